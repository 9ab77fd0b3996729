#include "desktop/history_window.h"

#include "history/history_store.h"
#include "history/history_summary.h"
#include "report/history_formats.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace desktop {

using history::Device;
using history::Record;
using history::Store;
using history::StoreError;

namespace {

// What the list calls a device: its name and serial, or its serial alone.
QString label(const Device& d) {
    return d.name.isEmpty() ? d.serial : QStringLiteral("%1 (%2)").arg(d.name, d.serial);
}

QString shownName(const Device& d) {
    return d.name.isEmpty() ? d.serial : d.name;
}

} // namespace

std::vector<QPointF> capacityPoints(const std::vector<Record>& records) {
    std::vector<QPointF> points;
    for (const Record& r : records) {
        if (const std::optional<double> percent = r.capacityPercent())
            points.emplace_back(double(r.time.toMSecsSinceEpoch()), *percent);
    }
    return points;
}

std::vector<QPointF> cyclePoints(const std::vector<Record>& records) {
    std::vector<QPointF> points;
    for (const Record& r : records) {
        if (r.cycles)
            points.emplace_back(double(r.time.toMSecsSinceEpoch()), double(*r.cycles));
    }
    return points;
}

std::vector<QPointF> powerPoints(const std::vector<Record>& records) {
    std::vector<QPointF> points;
    for (const Record& r : records) {
        if (r.powerW)
            points.emplace_back(double(r.time.toMSecsSinceEpoch()), *r.powerW);
    }
    return points;
}

HistoryWindow::HistoryWindow(const QString& path, const QString& serial, const QString& name,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), m_path(path), m_shownName(name) {
    setWindowTitle(tr("Battery history"));
    resize(720, 460);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* deviceLabel = new QLabel(tr("&Device:"), this);
    m_device = new QComboBox(this);
    m_device->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    deviceLabel->setBuddy(m_device);
    top->addWidget(deviceLabel);
    top->addWidget(m_device);
    top->addStretch();
    auto* besideLabel = new QLabel(tr("&Beside it:"), this);
    m_beside = new QComboBox(this);
    m_beside->addItems({tr("Charge cycles"), tr("Power into the battery")});
    besideLabel->setBuddy(m_beside);
    top->addWidget(besideLabel);
    top->addWidget(m_beside);
    layout->addLayout(top);

    m_view = new QChartView(new QChart, this);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setAccessibleName(tr("Maximum capacity, and charge cycles or power, over time"));
    layout->addWidget(m_view, 1);
    m_summary = new QLabel(this);
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_summary);

    auto* buttons = new QHBoxLayout;
    m_forget = new QPushButton(tr("&Forget this device…"), this);
    m_export = new QPushButton(tr("&Export CSV…"), this);
    auto* close = new QPushButton(tr("&Close"), this);
    buttons->addWidget(m_forget);
    buttons->addWidget(m_export);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_device, &QComboBox::currentIndexChanged, this, &HistoryWindow::showDevice);
    connect(m_beside, &QComboBox::currentIndexChanged, this,
            [this] { showDevice(m_device->currentIndex()); });
    connect(m_forget, &QPushButton::clicked, this, &HistoryWindow::forget);
    connect(m_export, &QPushButton::clicked, this, &HistoryWindow::exportCsv);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    load(serial);
}

HistoryWindow::~HistoryWindow() = default;

QString HistoryWindow::shownSerial() const {
    const int index = m_device->currentIndex();
    return index < 0 ? QString() : m_devices[std::size_t(index)].serial;
}

void HistoryWindow::reportFailure(const QString& what, const std::exception& e) {
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("%1: %2").arg(what, QString::fromUtf8(e.what())),
                                QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void HistoryWindow::load(const QString& serial) {
    m_devices.clear();
    try {
        // No file is no history yet; nothing is made for it.
        if (QFile::exists(m_path))
            m_devices = Store(m_path, Store::Mode::Read).devices();
    } catch (const StoreError& e) {
        reportFailure(tr("The battery history cannot be read"), e);
    }
    // The device on display is offered even before it has a record.
    const auto shown = std::find_if(m_devices.begin(), m_devices.end(),
                                    [&serial](const Device& d) { return d.serial == serial; });
    // (Its kind is not shown here, so none is asked for.)
    if (shown == m_devices.end() && !serial.isEmpty())
        m_devices.insert(m_devices.begin(), Device{serial, {}, m_shownName, QString(), 0});
    const QSignalBlocker quiet(m_device);
    m_device->clear();
    for (const Device& d : m_devices)
        m_device->addItem(label(d));
    const auto at = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&serial](const Device& d) { return d.serial == serial; });
    m_device->setCurrentIndex(at == m_devices.end() ? (m_devices.empty() ? -1 : 0)
                                                    : int(at - m_devices.begin()));
    showDevice(m_device->currentIndex());
}

void HistoryWindow::showDevice(int index) {
    m_records.clear();
    const Device* device = index < 0 ? nullptr : &m_devices[std::size_t(index)];
    try {
        if (device && device->records > 0)
            m_records = Store(m_path, Store::Mode::Read).records(device->serial);
    } catch (const StoreError& e) {
        reportFailure(tr("The battery history cannot be read"), e);
    }
    setWindowTitle(device ? tr("Battery history — %1").arg(shownName(*device))
                          : tr("Battery history"));
    const QString ahead = history::forecast(m_records, QDateTime::currentDateTimeUtc());
    const QString line = history::summary(m_records) + (ahead.isEmpty() ? QString() : u' ' + ahead);
    m_summary->setText(line);
    m_view->setAccessibleDescription(line);
    m_forget->setEnabled(!m_records.empty());
    m_export->setEnabled(!m_records.empty());

    QChart* chart = m_view->chart();
    chart->removeAllSeries();
    // The chart gives up a removed axis without deleting it.
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    // The desktop's theme, dark included, as the main window follows it.
    chart->setTheme(palette().color(QPalette::Window).lightness() < 128 ? QChart::ChartThemeDark
                                                                        : QChart::ChartThemeLight);
    chart->setBackgroundBrush(palette().color(QPalette::Window));
    chart->legend()->setAlignment(Qt::AlignBottom);
    const std::vector<QPointF> capacity = capacityPoints(m_records);
    if (capacity.empty())
        return;
    auto* time = new QDateTimeAxis;
    const qint64 span = m_records.front().time.daysTo(m_records.back().time);
    time->setFormat(span > 60 ? QStringLiteral("MMM yyyy") : QStringLiteral("d MMM"));
    // A single reading still gets a day's width.
    time->setRange(m_records.front().time.addSecs(-43200), m_records.back().time.addSecs(43200));
    chart->addAxis(time, Qt::AlignBottom);

    // Readings are few: points as well as lines, each series on an axis of its own, its range
    // from LOW to HIGH in round numbers.
    const auto plot = [&](const QString& name, const std::vector<QPointF>& points, double low,
                          double high, const QString& format, Qt::Alignment side) {
        auto* series = new QLineSeries;
        series->setName(name);
        series->setPointsVisible(true);
        for (const QPointF& p : points)
            series->append(p);
        chart->addSeries(series);
        auto* axis = new QValueAxis;
        axis->setRange(low, high);
        axis->applyNiceNumbers();
        axis->setLabelFormat(format);
        chart->addAxis(axis, side);
        series->attachAxis(time);
        series->attachAxis(axis);
    };
    const auto byValue = [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); };
    const auto [low, high] = std::minmax_element(capacity.begin(), capacity.end(), byValue);
    plot(tr("Maximum capacity (% of design)"), capacity,
         std::max(0.0, std::floor(low->y() / 5) * 5 - 5), std::ceil(high->y() / 5) * 5 + 5,
         QStringLiteral("%d%%"), Qt::AlignLeft);
    if (m_beside->currentIndex() == 1) {
        // Watts either way of 0, in whole watts.
        const std::vector<QPointF> power = powerPoints(m_records);
        if (!power.empty()) {
            const auto [least, most] = std::minmax_element(power.begin(), power.end(), byValue);
            plot(tr("Power into the battery (W)"), power, std::min(0.0, std::floor(least->y())),
                 std::max(1.0, std::ceil(most->y())), QStringLiteral("%.1f"), Qt::AlignRight);
        }
        return;
    }
    const std::vector<QPointF> cycles = cyclePoints(m_records);
    if (!cycles.empty())
        plot(tr("Charge cycles"), cycles, 0,
             std::max(10.0, std::ceil(std::max_element(cycles.begin(), cycles.end(), byValue)->y() *
                                      1.1)),
             QStringLiteral("%d"), Qt::AlignRight);
}

void HistoryWindow::forget() {
    const int index = m_device->currentIndex();
    if (index < 0)
        return;
    const Device device = m_devices[std::size_t(index)];
    const int readings = int(m_records.size());
    const QString question =
        readings == 1 ? tr("Forget the battery history of %1? Its one reading is deleted from "
                           "this computer.")
                            .arg(label(device))
                      : tr("Forget the battery history of %1? Its %2 readings are deleted from "
                           "this computer.")
                            .arg(label(device))
                            .arg(readings);
    QMessageBox confirm(QMessageBox::Question, tr("Forget this device"), question,
                        QMessageBox::Cancel, this);
    confirm.setTextFormat(Qt::PlainText);
    confirm.addButton(tr("Forget"), QMessageBox::DestructiveRole);
    if (confirm.exec() == QMessageBox::Cancel)
        return;
    try {
        Store(m_path, Store::Mode::Write).forget(device.serial);
    } catch (const StoreError& e) {
        return reportFailure(tr("The device's history could not be deleted"), e);
    }
    load(device.serial);
}

void HistoryWindow::exportCsv() {
    const QString serial = shownSerial();
    QString name = serial;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export CSV"),
        QDir::home().filePath(QStringLiteral("battery-history-%1.csv").arg(name)),
        tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    // Written whole or not at all: an existing file is replaced only once this one is complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(report::recordsCsv(m_records)) < 0 ||
        !file.commit())
        reportFailure(tr("The CSV file could not be written"),
                      std::runtime_error(file.errorString().toStdString()));
}

} // namespace desktop
