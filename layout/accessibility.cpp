#include "layout/accessibility.h"

#include "layout/progress_bar.h"
#include "layout/status_picture.h"

#include <QAccessibleWidget>

namespace layout {
namespace {

class AccessibleBar : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleBar(ProgressBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return QStringLiteral("%1%").arg(qRound(bar()->value()));
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return double(bar()->value()); }
    void setCurrentValue(const QVariant&) override {} // shown, never set by the user
    QVariant maximumValue() const override { return double(ProgressBar::Max); }
    QVariant minimumValue() const override { return double(ProgressBar::Min); }
    QVariant minimumStepSize() const override { return 0.0; }

private:
    ProgressBar* bar() const { return static_cast<ProgressBar*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    // Qt owns what a factory returns, in its accessibility cache.
    if (className == QLatin1String("ProgressBar"))
        return new AccessibleBar(static_cast<ProgressBar*>(object));
    if (className == QLatin1String("StatusPicture"))
        return new QAccessibleWidget(static_cast<StatusPicture*>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace layout
