#include "device_link/adb/parse_text.h"

namespace adb {

QStringList outputLines(QStringView text) {
    QStringList lines;
    for (QStringView line : text.split(u'\n')) {
        while (line.endsWith(u'\r'))
            line.chop(1);
        lines << line.toString();
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList splitSections(QStringView text, int expected) {
    QStringList sections(expected);
    int index = 0;
    for (const QString& line : outputLines(text)) {
        if (line.trimmed() == QLatin1String("::")) {
            if (++index >= expected)
                break;
            continue;
        }
        sections[index] += line + u'\n';
    }
    return sections;
}

std::optional<double> wholeNumber(QStringView text) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > 127)
            return std::nullopt;
    }
    return text.toDouble();
}

std::optional<QString> keyValue(const QStringList& lines, QStringView key) {
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        if (QStringView(line).left(colon).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

} // namespace adb
