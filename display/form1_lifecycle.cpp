#include "display/form1.h"

#include "layout/element_table.h"
#include "layout/progress_bar.h"
#include "layout/window_builder.h"

#include <QLabel>
#include <QPushButton>

namespace {

template <typename T> T* element(const QHash<QString, QWidget*>& built, const char* name) {
    auto* widget = qobject_cast<T*>(built.value(QString::fromLatin1(name)));
    // A missing element is a fault in the element table, not something a user can cause.
    if (!widget)
        qFatal("The window has no element %s of the expected kind", name);
    return widget;
}

} // namespace

Form1::Form1(std::unique_ptr<Pelorin> link, QWidget* parent)
    : QWidget(parent), Pelorin1(std::move(link)) {
    Q_ASSERT(Pelorin1);
    const QHash<QString, QWidget*> built = layout::buildWindow(*this);
    MemoryLabel = element<QLabel>(built, "MemoryLabel");
    AvailableLabel = element<QLabel>(built, "AvailableLabel");
    MemoryUsageBar = element<ProgressBar>(built, "MemoryUsageBar");
    StorageLabel = element<QLabel>(built, "StorageLabel");
    StorageFreeLabel = element<QLabel>(built, "StorageFreeLabel");
    StorageUsageBar = element<ProgressBar>(built, "StorageUsageBar");
    ProcessorLabel = element<QLabel>(built, "ProcessorLabel");
    BatteryStatusLabel = element<QLabel>(built, "BatteryStatusLabel");
    BatteryLifeLabel = element<QLabel>(built, "BatteryLifeLabel");
    BatteryFullTimeLabel = element<QLabel>(built, "BatteryFullTimeLabel");
    BatteryLifeBar = element<ProgressBar>(built, "BatteryLifeBar");
    ACLineStatusLabel = element<QLabel>(built, "ACLineStatusLabel");
    ScreenWidthLabel = element<QLabel>(built, "ScreenWidthLabel");
    ScreenHeightLabel = element<QLabel>(built, "ScreenHeightLabel");
    IPAddrLabel = element<QLabel>(built, "IPAddrLabel");
    ConnectedPicture = element<QWidget>(built, "ConnectedPicture");
    DisconnectedPicture = element<QWidget>(built, "DisconnectedPicture");
    RefreshCommand = element<QPushButton>(built, "RefreshCommand");

    // The two places where Qt hands work over to the window.
    connect(RefreshCommand, &QPushButton::clicked, this,
            [this] { runEvent(tr("Refresh failed"), [this] { RefreshCommand_Click(); }); });
    connect(Pelorin1.get(), &Pelorin::ConnectionEvent, this,
            [this](qint32 code, const QString& text) {
                runEvent(tr("Reading the device failed"),
                         [this, code, text] { Pelorin1_ConnectionEvent(code, text); });
            });

    Form_Load();
}

Form1::~Form1() = default;

template <typename Work> void Form1::runEvent(const QString& what, Work&& work) {
    try {
        work();
    } catch (const std::exception& failure) {
        emit failureReported(what + QStringLiteral(": ") + QString::fromUtf8(failure.what()));
    } catch (...) {
        emit failureReported(what + QStringLiteral(": an unexpected error occurred."));
    }
}

void Form1::Form_Load() {
    ResetValues();
}

void Form1::ResetValues() {
    MemoryLabel->setText(QString());
    AvailableLabel->setText(QString());
    MemoryUsageBar->setValue(0);
    ProcessorLabel->setText(QString());
    BatteryStatusLabel->setText(QString());
    BatteryLifeLabel->setText(QString());
    BatteryFullTimeLabel->setText(QString());
    BatteryLifeBar->setValue(0);
    ACLineStatusLabel->setText(QString());
    ScreenHeightLabel->setText(QString());
    ScreenWidthLabel->setText(QString());
    setWindowTitle(
        QString::fromUtf8(layout::kWindowCaption.data(), qsizetype(layout::kWindowCaption.size())));
    ConnectedPicture->hide();
    DisconnectedPicture->show();
    IPAddrLabel->setText(QString());
    StorageUsageBar->setValue(0);
    StorageLabel->setText(QString());
    StorageFreeLabel->setText(QString());
}

void Form1::RefreshCommand_Click() {
    GetDeviceId();
    GetMemoryInfo();
    GetStorageInfo();
    GetProcessorType();
    GetPowerInfo();
    GetScreenInfo();
}

void Form1::Pelorin1_ConnectionEvent(qint32 EventCode, const QString& EventText) {
    const QString text = EventText;
    // Dispatched on the code as an unsigned number: negative codes fall outside 0 to 7.
    switch (static_cast<quint32>(EventCode)) {
    case 0:
        ConnectedPicture->show();
        DisconnectedPicture->hide();
        IPAddrLabel->setText(QString());
        RefreshCommand_Click();
        RefreshCommand->setEnabled(true);
        break;
    case 2:
    case 4:
    case 7:
        ResetValues();
        RefreshCommand->setEnabled(false);
        break;
    case 5:
        IPAddrLabel->setText(text);
        break;
    default:
        break;
    }
}
