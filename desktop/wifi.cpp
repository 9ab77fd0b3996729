#include "desktop/wifi.h"

#include "care/care_settings.h"
#include "device_link/adb/adb_link.h"
#include "device_link/adb/wifi_keeper.h"
#include "device_link/combined_link.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace desktop {
namespace {

const QString kGroupKey = QStringLiteral("wifi/addresses");

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

QStringList readWifiAddresses(const QString& path) {
    if (!QFileInfo::exists(path) || !care::settingsFileUsable(path))
        return {};
    QStringList out;
    for (const QString& text :
         QSettings(path, QSettings::IniFormat).value(kGroupKey).toStringList()) {
        QString why;
        if (const QString address = adb::wifiAddress(text, &why);
            !address.isEmpty() && !out.contains(address))
            out << address;
    }
    return out;
}

QString writeWifiAddresses(const QString& path, const QStringList& addresses) {
    if (!care::settingsFileUsable(path))
        return QStringLiteral("the Wi-Fi addresses cannot be kept in %1").arg(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kGroupKey, addresses);
    settings.sync();
    return settings.status() == QSettings::NoError
               ? QString()
               : QStringLiteral("the Wi-Fi addresses cannot be kept in %1").arg(path);
}

WifiDialog::WifiDialog(WifiKeeper& keeper, QString settingsPath, QWidget* parent)
    : QDialog(parent), m_keeper(keeper), m_path(std::move(settingsPath)) {
    setWindowTitle(tr("Connect over Wi-Fi"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plainLabel(
        tr("The address of an Android device that listens on the network (HOST or HOST:PORT; "
           "5555 unless given). It is connected again whenever it drops."),
        this));
    auto* row = new QHBoxLayout;
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("WifiAddress"));
    m_address->setPlaceholderText(QStringLiteral("192.168.1.23"));
    auto* connectButton = new QPushButton(tr("Connect"), this);
    connectButton->setDefault(true);
    row->addWidget(m_address);
    row->addWidget(connectButton);
    layout->addLayout(row);
    m_result = plainLabel(QString(), this);
    m_result->setObjectName(QStringLiteral("WifiResult"));
    layout->addWidget(m_result);
    layout->addWidget(plainLabel(tr("Kept connected:"), this));
    m_kept = new QListWidget(this);
    m_kept->setObjectName(QStringLiteral("WifiKept"));
    layout->addWidget(m_kept);
    auto* forget = new QPushButton(tr("Forget"), this);
    layout->addWidget(forget);
    layout->addWidget(plainLabel(adb::pairingNote(), this));
    connect(connectButton, &QPushButton::clicked, this, [this] { connectTo(m_address->text()); });
    connect(forget, &QPushButton::clicked, this, [this] {
        for (const QListWidgetItem* item : m_kept->selectedItems())
            m_keeper.forget(item->text());
        if (const QString why = writeWifiAddresses(m_path, m_keeper.addresses()); !why.isEmpty())
            m_result->setText(why);
        showKept();
    });
    showKept();
}

QString WifiDialog::result() const {
    return m_result->text();
}

void WifiDialog::connectTo(const QString& text) {
    QString why;
    const QString address = adb::wifiAddress(text, &why);
    if (address.isEmpty())
        return m_result->setText(why + u'.');
    m_result->setText(tr("Connecting to %1…").arg(address));
    m_keeper.connectNow(address, [dialog = QPointer<WifiDialog>(this),
                                  address](const adb::ConnectOutcome& outcome) {
        if (!dialog)
            return;
        dialog->m_result->setText(outcome.sentence);
        if (outcome.connected())
            dialog->keep(address);
    });
}

void WifiDialog::keep(const QString& address) {
    m_keeper.keep(address);
    if (const QString why = writeWifiAddresses(m_path, m_keeper.addresses()); !why.isEmpty())
        m_result->setText(m_result->text() + u' ' + why);
    showKept();
}

void WifiDialog::showKept() {
    m_kept->clear();
    m_kept->addItems(m_keeper.addresses());
}

std::function<void(QMenu&)> wifiEntries(QWidget& window, CombinedLink& link, WifiKeeper& keeper,
                                        const QString& path,
                                        std::function<void(const QString&)> say) {
    for (const QString& address : readWifiAddresses(path))
        keeper.keep(address);
    QObject::connect(&keeper, &WifiKeeper::said, &window, say);
    return [&window, &link, &keeper, path, say](QMenu& menu) {
        auto* adb = qobject_cast<AdbLink*>(link.followed());
        QAction* move = menu.addAction(QObject::tr("Switch to Wi-Fi"));
        move->setEnabled(adb && adb->canSwitchToWifi());
        QObject::connect(move, &QAction::triggered, &window, [&window, adb, &keeper, path, say] {
            adb->switchToWifi(
                QString(), adb::kWifiPort,
                [&window, &keeper, path, say](const adb::ConnectOutcome& o,
                                              const QString& address) {
                    say(o.sentence);
                    if (!o.connected()) {
                        // Non-modal: the window goes on meanwhile.
                        auto* box =
                            new QMessageBox(QMessageBox::Warning, QObject::tr("Switch to Wi-Fi"),
                                            o.sentence, QMessageBox::Ok, &window);
                        box->setTextFormat(Qt::PlainText);
                        box->setAttribute(Qt::WA_DeleteOnClose);
                        box->setModal(false);
                        box->show();
                        return;
                    }
                    keeper.keep(address);
                    if (const QString why = writeWifiAddresses(path, keeper.addresses());
                        !why.isEmpty())
                        say(why);
                });
        });
        QAction* open = menu.addAction(QObject::tr("Connect over Wi-Fi…"));
        QObject::connect(open, &QAction::triggered, &window, [&window, &keeper, path] {
            auto* dialog = new WifiDialog(keeper, path, &window);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->show();
        });
    };
}

} // namespace desktop
