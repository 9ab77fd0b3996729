#include "desktop/notifications_dialog.h"

#include "desktop/battery_care.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace desktop {
namespace {

// The intervals offered, in seconds; one the settings file holds besides them is offered too.
const int kIntervals[] = {10, 30, 60, 120, 300, 600, 1800, 3600};

QString intervalText(int seconds) {
    if (seconds < 60 || seconds % 60 != 0)
        return QObject::tr("%1 s").arg(seconds);
    if (seconds == 3600)
        return QObject::tr("1 hour");
    return seconds == 60 ? QObject::tr("1 minute") : QObject::tr("%1 minutes").arg(seconds / 60);
}

// A checkbox and its value in a row; the value stays at what it says while off, greyed.
QSpinBox* row(QGridLayout& grid, QCheckBox* box, care::Range range, int value, int shown,
              const QString& suffix) {
    auto* spin = new QSpinBox(box->parentWidget());
    spin->setRange(range.least, range.most);
    spin->setValue(value > 0 ? value : shown);
    spin->setSuffix(suffix);
    spin->setEnabled(value > 0);
    box->setChecked(value > 0);
    QObject::connect(box, &QCheckBox::toggled, spin, &QWidget::setEnabled);
    const int at = grid.rowCount();
    grid.addWidget(box, at, 0);
    grid.addWidget(spin, at, 1);
    return spin;
}

} // namespace

NotificationsDialog::NotificationsDialog(BatteryCare& care, QWidget* parent)
    : QDialog(parent), m_care(care) {
    setWindowTitle(tr("Notifications"));
    setModal(false);
    const care::Limits limits = care.limits();
    auto* grid = new QGridLayout;
    m_charged = new QCheckBox(tr("When charging reaches"), this);
    m_chargedPercent =
        row(*grid, m_charged, care::kChargedRange, limits.chargedPercent, 80, tr(" %"));
    m_low = new QCheckBox(tr("When the charge falls to"), this);
    m_lowPercent = row(*grid, m_low, care::kLowRange, limits.lowPercent, 20, tr(" %"));
    m_hot = new QCheckBox(tr("When the battery is hotter than"), this);
    m_hotCelsius = row(*grid, m_hot, care::kHotRange, limits.hotCelsius, 40, tr(" °C"));
    m_draining = new QCheckBox(tr("When it is losing charge while plugged in"), this);
    m_draining->setChecked(limits.drainingOnMains > 0);
    grid->addWidget(m_draining, grid->rowCount(), 0, 1, 2);
    auto* every = new QLabel(tr("Check every"), this);
    m_interval = new QComboBox(this);
    every->setBuddy(m_interval);
    QList<int> intervals(std::begin(kIntervals), std::end(kIntervals));
    if (!intervals.contains(limits.intervalSeconds)) {
        intervals << limits.intervalSeconds;
        std::sort(intervals.begin(), intervals.end());
    }
    for (const int seconds : intervals)
        m_interval->addItem(intervalText(seconds), seconds);
    m_interval->setCurrentIndex(m_interval->findData(limits.intervalSeconds));
    grid->addWidget(every, grid->rowCount(), 0);
    grid->addWidget(m_interval, grid->rowCount() - 1, 1);

    m_unavailable = new QLabel(tr("This desktop shows no notifications."), this);
    m_unavailable->setTextFormat(Qt::PlainText);
    m_unavailable->setWordWrap(true);
    m_unavailable->hide();
    care::KeepWatch& keepWatch = care.keepWatch();
    m_keepWatch = new QCheckBox(tr("Keep watch when the window is closed"), this);
    m_keepWatch->setChecked(keepWatch.keeps());
    m_watcher = new QLabel(this);
    m_watcher->setTextFormat(Qt::PlainText);
    m_watcher->setWordWrap(true);
    connect(m_keepWatch, &QCheckBox::toggled, this, [this](bool keeps) { keepWatching(keeps); });
    // The panel's item is the watcher's: the watcher runs while it is shown.
    m_panel = new QCheckBox(tr("Show every battery in the panel"), this);
    m_panel->setChecked(care.panel());
    m_keepWatch->setEnabled(!m_panel->isChecked());
    connect(m_panel, &QCheckBox::toggled, this, [this](bool shown) {
        m_care.setPanel(shown);
        m_keepWatch->setEnabled(!shown);
        // Without the panel and every notice, a watcher would read for nobody.
        if (shown || !m_care.limits().any())
            keepWatching(shown);
    });
    connect(&keepWatch, &care::KeepWatch::runningChanged, this, &NotificationsDialog::showWatcher);
    showWatcher(keepWatch.running());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_unavailable);
    layout->addWidget(m_keepWatch);
    layout->addWidget(m_panel);
    layout->addWidget(m_watcher);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (QCheckBox* box : {m_charged, m_low, m_hot, m_draining})
        connect(box, &QCheckBox::toggled, this, &NotificationsDialog::take);
    for (QSpinBox* spin : {m_chargedPercent, m_lowPercent, m_hotCelsius})
        connect(spin, &QSpinBox::valueChanged, this, &NotificationsDialog::take);
    connect(m_interval, &QComboBox::currentIndexChanged, this, &NotificationsDialog::take);

    care::DesktopNotifier& notifier = care.notifier();
    connect(&notifier, &care::DesktopNotifier::availableChanged, this,
            &NotificationsDialog::showAvailable);
    if (notifier.available())
        showAvailable(*notifier.available());
    notifier.probe();
}

void NotificationsDialog::keepWatching(bool keeps) {
    care::KeepWatch& keepWatch = m_care.keepWatch();
    if (const QString why = keepWatch.setKeeps(keeps); !why.isEmpty())
        m_watcher->setText(why);
    const QSignalBlocker quiet(m_keepWatch);
    m_keepWatch->setChecked(keepWatch.keeps());
}

void NotificationsDialog::showAvailable(bool available) {
    m_unavailable->setVisible(!available);
}

void NotificationsDialog::showWatcher(bool running) {
    m_watcher->setText(running ? tr("A watcher is running: it notifies for every device.")
                               : tr("No watcher is running."));
}

void NotificationsDialog::take() {
    care::Limits limits;
    limits.chargedPercent = m_charged->isChecked() ? m_chargedPercent->value() : 0;
    limits.lowPercent = m_low->isChecked() ? m_lowPercent->value() : 0;
    limits.hotCelsius = m_hot->isChecked() ? m_hotCelsius->value() : 0;
    limits.drainingOnMains = m_draining->isChecked() ? 1 : 0;
    limits.intervalSeconds = m_interval->currentData().toInt();
    m_care.setLimits(limits);
}

} // namespace desktop
