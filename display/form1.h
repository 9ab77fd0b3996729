// The Device Info window: its display elements and the procedures that fill them from the
// device link. The procedures decide what to show; the widgets only show it.
#pragma once

#include "device_link/device_facts.h"
#include "device_link/pelorin.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class ProgressBar;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(std::unique_ptr<Pelorin> link, QWidget* parent = nullptr);
    ~Form1() override;
    Q_DISABLE_COPY_MOVE(Form1)

    Pelorin& link() const { return *Pelorin1; }

    // Lifecycle and events. None of these catch: a failure ends the work and passes upwards to
    // where Qt handed over the event.
    void Form_Load();
    void ResetValues();
    void RefreshCommand_Click();
    void Pelorin1_ConnectionEvent(qint32 EventCode, const QString& EventText);

    // The refresh sequence, in the order RefreshCommand_Click runs it.
    void GetDeviceId();
    void GetMemoryInfo();
    void GetStorageInfo();
    void GetProcessorType();
    void GetPowerInfo();
    void GetScreenInfo();

    // The battery watch's event: a read of the battery alone, shown in the power panel as a
    // refresh shows it. POWER none: the device gave no power status.
    void BatteryWatch_Read(const std::optional<device::PowerStatus>& power, qint32 mains);

    // A number of seconds as hours and minutes ("1 hour  30 min"); "Unknown" for a negative
    // count or one too large to be a real duration. Fails only on a value that is not a number.
    static QString FormatTimeString(const DeviceValue& seconds);

signals:
    // Once per button press or link event whose work failed, with words a person can read.
    void failureReported(const QString& message);

private:
    template <typename Work> void runEvent(const QString& what, Work&& work);
    void ShowPowerStatus(const DeviceValue& flag, const DeviceValue& percent,
                         const DeviceValue& lifeTime, const DeviceValue& fullLifeTime);
    void fillBytePanel(DeviceValue (Pelorin::*query)(DeviceValue&, DeviceValue&), QLabel* first,
                       QLabel* second, ProgressBar* bar);

    std::unique_ptr<Pelorin> Pelorin1;

    QLabel* MemoryLabel = nullptr;
    QLabel* AvailableLabel = nullptr;
    ProgressBar* MemoryUsageBar = nullptr;
    QLabel* StorageLabel = nullptr;
    QLabel* StorageFreeLabel = nullptr;
    ProgressBar* StorageUsageBar = nullptr;
    QLabel* ProcessorLabel = nullptr;
    QLabel* BatteryStatusLabel = nullptr;
    QLabel* BatteryLifeLabel = nullptr;
    QLabel* BatteryFullTimeLabel = nullptr;
    ProgressBar* BatteryLifeBar = nullptr;
    QLabel* ACLineStatusLabel = nullptr;
    QLabel* ScreenWidthLabel = nullptr;
    QLabel* ScreenHeightLabel = nullptr;
    QLabel* IPAddrLabel = nullptr;
    QWidget* ConnectedPicture = nullptr;
    QWidget* DisconnectedPicture = nullptr;
    QPushButton* RefreshCommand = nullptr;
};
