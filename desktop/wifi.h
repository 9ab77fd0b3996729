// Android devices over Wi-Fi in the window: Switch to Wi-Fi for the device shown over USB, and
// Connect over Wi-Fi..., both in the Device menu; every address connected through them is kept
// connected (group [wifi], key addresses, of device-info.conf), across restarts.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class CombinedLink;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QWidget;
class WifiKeeper;

namespace desktop {

// The addresses kept at PATH; none where there is no file.
QStringList readWifiAddresses(const QString& path);
// One line on why ADDRESSES cannot be written to PATH; empty where they were.
QString writeWifiAddresses(const QString& path, const QStringList& addresses);

// Connect over Wi-Fi...: an address to connect, the sentence on what happened, and the
// addresses kept, each with Forget.
class WifiDialog : public QDialog {
    Q_OBJECT
public:
    WifiDialog(WifiKeeper& keeper, QString settingsPath, QWidget* parent = nullptr);

    // What the last attempt came to, in one sentence.
    QString result() const;
    void connectTo(const QString& text);

private:
    void showKept();
    void keep(const QString& address);

    WifiKeeper& m_keeper;
    QString m_path;
    QLineEdit* m_address;
    QLabel* m_result;
    QListWidget* m_kept;
};

// Keeps the addresses of PATH connected through KEEPER, and gives what the Device menu adds
// beneath its devices: Switch to Wi-Fi and Connect over Wi-Fi.... SAY tells what happened.
std::function<void(QMenu&)> wifiEntries(QWidget& window, CombinedLink& link, WifiKeeper& keeper,
                                        const QString& path,
                                        std::function<void(const QString&)> say);

} // namespace desktop
