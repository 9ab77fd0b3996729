// Notifications...: which words the window gives on a battery, and how often it looks. What the
// user sets is taken and kept at once; the dialog says when this desktop shows no
// notifications, and whether a watcher keeps watch with the window closed.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace desktop {

class BatteryCare;

class NotificationsDialog : public QDialog {
    Q_OBJECT
public:
    NotificationsDialog(BatteryCare& care, QWidget* parent = nullptr);

private:
    void showAvailable(bool available);
    void showWatcher(bool running);
    void keepWatching(bool keeps);
    void take();

    BatteryCare& m_care;
    QCheckBox* m_charged = nullptr;
    QSpinBox* m_chargedPercent = nullptr;
    QCheckBox* m_low = nullptr;
    QSpinBox* m_lowPercent = nullptr;
    QCheckBox* m_draining = nullptr;
    QCheckBox* m_hot = nullptr;
    QSpinBox* m_hotCelsius = nullptr;
    QComboBox* m_interval = nullptr;
    QLabel* m_unavailable = nullptr;
    QCheckBox* m_keepWatch = nullptr;
    QCheckBox* m_panel = nullptr;
    QLabel* m_watcher = nullptr;
};

} // namespace desktop
