// The Battery history window: how a device's battery wore, drawn with Qt Charts from the
// history on this computer. The maximum capacity in percent of the design and the charge cycles
// over time, one line in plain words under them, a list of every device the history knows, and
// Forget this device... and Export CSV....
#pragma once

#include "history/history_record.h"

#include <QPointF>
#include <QWidget>

#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;

namespace desktop {

// The chart's points of RECORDS: x in milliseconds since the epoch; capacity in percent of the
// design; cycles and the power into the battery in watts where a record has them.
std::vector<QPointF> capacityPoints(const std::vector<history::Record>& records);
std::vector<QPointF> cyclePoints(const std::vector<history::Record>& records);
std::vector<QPointF> powerPoints(const std::vector<history::Record>& records);

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // The history at PATH; SERIAL, the device on display (called NAME), first.
    HistoryWindow(const QString& path, const QString& serial, const QString& name,
                  QWidget* parent = nullptr);
    ~HistoryWindow() override;
    Q_DISABLE_COPY_MOVE(HistoryWindow)

    QString shownSerial() const;

private:
    void load(const QString& serial);
    void showDevice(int index);
    void forget();
    void exportCsv();
    void reportFailure(const QString& what, const std::exception& e);

    QString m_path;
    QString m_shownName;
    std::vector<history::Device> m_devices;
    std::vector<history::Record> m_records; // of the device shown
    QComboBox* m_device = nullptr;
    QComboBox* m_beside = nullptr; // what is drawn beside the capacity
    QChartView* m_view = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_forget = nullptr;
    QPushButton* m_export = nullptr;
};

} // namespace desktop
