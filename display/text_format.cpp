#include "display/text_format.h"

#include <QLocale>

#include <cmath>

namespace display {

QString numberToText(qint64 value) {
    return (value < 0 ? QStringLiteral("-") : QStringLiteral(" ")) +
           QString::number(value < 0 ? -static_cast<quint64>(value) : static_cast<quint64>(value));
}

QString groupedWholeNumber(double value) {
    // Halves round away from zero, as the grouping pattern does.
    const double whole = std::round(value);
    if (whole == 0.0)
        return QString();
    QLocale locale;
    // The C locale groups nothing; people reading byte counts still want them grouped.
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(whole, 'f', 0);
}

} // namespace display
