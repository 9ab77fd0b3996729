// Readable Qt values in test failure messages.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <ostream>
#include <string>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
// Bytes as text: whatever is not UTF-8 shows as U+FFFD, so that a failure's message is text.
inline std::string shown(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toStdString();
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << shown(bytes) << '"';
}
inline void PrintTo(const QJsonValue& value, std::ostream* out) {
    // As JSON, through an array that can hold any value.
    const QByteArray json = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    *out << json.mid(1, json.size() - 2).toStdString();
}
inline void PrintTo(const QJsonObject& object, std::ostream* out) {
    PrintTo(QJsonValue(object), out);
}
