#include "display/text_format.h"

#include <QLocale>

#include <algorithm>
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

float usagePercent(double total, double remaining) {
    if (total == 0.0)
        return 0.0f;
    const double usage = 100.0 - (remaining / total) * 100.0;
    if (!std::isfinite(usage))
        return 0.0f;
    return static_cast<float>(std::clamp(usage, 0.0, 100.0));
}

QString visibleControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        // A line or paragraph separator starts a line as a newline does.
        if (c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            continue;
        }
        if (c.category() != QChar::Other_Control) {
            out += c;
            continue;
        }
        switch (c.unicode()) {
        case 0x1b:
            out += QStringLiteral("\\e");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

} // namespace display
