// An in-memory link whose answers, failures and call log each test sets.
#pragma once

#include "device_link/kind_link.h"

#include <QHash>
#include <QStringList>

#include <optional>
#include <vector>

class ScriptedLink final : public KindLink {
    Q_OBJECT
public:
    struct Answer {
        DeviceValue result;
        std::vector<DeviceValue> outs; // by-reference values, in call order
        std::optional<QString> failure;
    };

    // Keys: the query name, with the index for GetSystemMetric ("GetSystemMetric(0)").
    QHash<QString, Answer> answers;
    QStringList calls;

    void set(const QString& query, DeviceValue result, std::vector<DeviceValue> outs = {}) {
        answers[query] = Answer{std::move(result), std::move(outs), std::nullopt};
    }
    void fail(const QString& query, const QString& message = QStringLiteral("scripted failure")) {
        answers[query] = Answer{DeviceValue(), {}, message};
    }
    void raise(qint32 code, const QString& text = QString()) {
        shows = code == EventConnected ||
                (shows && code != EventRemoved && code != EventOffline && code != EventServerLost);
        emit ConnectionEvent(code, text);
    }
    void tell(const DeviceDetails& details) { setDetails(details); }
    void say(const QString& text) {
        status = text;
        emit statusChanged(text);
    }

    QString statusText() const override { return status; }
    std::vector<AttachedDevice> attachedDevices() const override { return attached; }
    QString followedSerial() const override { return shows ? followed : QString(); }
    // What the link sees, and which of it it shows while code 0 stands.
    void see(std::vector<AttachedDevice> devices, const QString& shown = QString()) {
        attached = std::move(devices);
        followed = shown;
        emit devicesChanged();
    }
    std::vector<AttachedDevice> attached;
    QString followed;
    bool hasDevice() const override { return shows; }
    void setWantedSerial(const QString& serial, const QString&) override {
        wanted = serial;
        aside = false;
    }
    void standAside(const QString& serial, const QString&) override {
        wanted = serial;
        aside = true;
    }
    void readBattery() override { ++batteryReads; }
    // Answers a read of the battery.
    void battery(const DeviceReading& reading) { emit batteryRead(reading); }
    int batteryReads = 0;
    QString status;
    bool shows = false; // code 0 raised, and no gone code since
    QString wanted;
    bool aside = false; // told that another kind's device is wanted

    // A small phone that answers every query.
    static void scriptPhone(ScriptedLink& link) {
        link.set("ReadRegistryValue", QStringLiteral("Lab-07"));
        link.set("GetMemoryStatus", 1.0, {33554432.0, 16777216.0});
        link.set("GetStorageStatus", 1.0, {3.0, 1.0});
        link.set("ProcessorType", 2577.0);
        link.set("GetPowerStatus", 1.0, {8.0, 57.9, 5400.0, 7500.0});
        link.set("ACLineStatus", 1.0);
        link.set("GetSystemMetric(0)", 240.0);
        link.set("GetSystemMetric(1)", 320.0);
    }

    DeviceValue GetMemoryStatus(DeviceValue& a, DeviceValue& b) override {
        return answer("GetMemoryStatus", {&a, &b});
    }
    DeviceValue GetStorageStatus(DeviceValue& a, DeviceValue& b) override {
        return answer("GetStorageStatus", {&a, &b});
    }
    DeviceValue ProcessorType() override { return answer("ProcessorType", {}); }
    DeviceValue GetPowerStatus(DeviceValue& a, DeviceValue& b, DeviceValue& c,
                               DeviceValue& d) override {
        return answer("GetPowerStatus", {&a, &b, &c, &d});
    }
    DeviceValue ACLineStatus() override { return answer("ACLineStatus", {}); }
    DeviceValue GetSystemMetric(qint32 index) override {
        return answer(QStringLiteral("GetSystemMetric(%1)").arg(index), {});
    }
    DeviceValue ReadRegistryValue(qint32 root, const QString& key,
                                  const QString& valueName) override {
        lastRegistryArgs = QStringLiteral("%1,%2,%3").arg(root).arg(key, valueName);
        return answer("ReadRegistryValue", {});
    }

    QString lastRegistryArgs;

private:
    DeviceValue answer(const QString& query, std::vector<DeviceValue*> outs) {
        calls << query;
        const auto it = answers.constFind(query);
        if (it == answers.cend())
            throw DeviceLinkError("not scripted: " + query.toStdString());
        if (it->failure)
            throw DeviceLinkError(it->failure->toStdString());
        for (std::size_t i = 0; i < outs.size() && i < it->outs.size(); ++i)
            *outs[i] = it->outs[i];
        return it->result;
    }
};
