#include "device_link/adb/memory_storage_parsers.h"

#include "device_link/adb/parse_text.h"

#include <QRegularExpression>

#include <cmath>

namespace adb {

std::optional<ByteCounts> parseMeminfo(QStringView text) {
    const QStringList lines = outputLines(text);
    auto kib = [&](QStringView key) -> std::optional<double> {
        const auto value = keyValue(lines, key);
        if (!value)
            return std::nullopt;
        QString number = *value;
        if (number.endsWith(QLatin1String("kB"), Qt::CaseInsensitive))
            number.chop(2);
        const auto n = wholeNumber(number);
        return n ? std::optional(*n * 1024.0) : std::nullopt;
    };
    const auto total = kib(u"MemTotal");
    if (!total)
        return std::nullopt;
    if (const auto available = kib(u"MemAvailable"))
        return ByteCounts{*total, *available};
    const auto memFree = kib(u"MemFree");
    if (!memFree)
        return std::nullopt;
    return ByteCounts{*total, *memFree + kib(u"Buffers").value_or(0) + kib(u"Cached").value_or(0)};
}

namespace {

// A mount and its sizes, as one row of a listing gives them.
struct Row {
    QString mount;
    ByteCounts counts;
    bool rounded = false;
};

// "BLOCKSIZE BLOCKS AVAILABLE [MOUNT [TYPE]]", as our stat -f format prints it.
std::optional<Row> statFsRow(const QString& line) {
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return std::nullopt;
    const auto blockSize = wholeNumber(fields[0]);
    const auto blocks = wholeNumber(fields[1]);
    const auto available = wholeNumber(fields[2]);
    if (!blockSize || !blocks || !available || *blockSize <= 0 || *blocks <= 0)
        return std::nullopt;
    return Row{fields.value(3), {*blockSize * *blocks, *blockSize * *available}, false};
}

// "Filesystem 1K-blocks Used Available Use% Mounted-on".
std::optional<Row> dfKRow(const QString& line) {
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() < 6)
        return std::nullopt;
    const auto blocks = wholeNumber(fields[1]);
    const auto available = wholeNumber(fields[3]);
    if (!blocks || !available)
        return std::nullopt;
    return Row{fields.last(), {*blocks * 1024.0, *available * 1024.0}, false};
}

std::optional<Row> toolboxDfRow(const QString& line);

// The /data row of a listing of mounts, else the / row; rows that are no sizes, or sizes that
// cannot be, are passed over.
template <typename ParseRow> std::optional<Row> dataOrRoot(QStringView text, ParseRow parseRow) {
    std::optional<Row> root;
    for (const QString& line : outputLines(text)) {
        const auto row = parseRow(line);
        if (!row || row->counts.total <= 0 || row->counts.remaining > row->counts.total)
            continue;
        if (row->mount == QLatin1String("/data"))
            return row;
        if (row->mount == QLatin1String("/") && !root)
            root = row;
    }
    return root;
}

std::optional<ByteCounts> countsOf(const std::optional<Row>& row) {
    return row ? std::optional(row->counts) : std::nullopt;
}

} // namespace

std::optional<ByteCounts> parseStatFs(QStringView text) {
    for (const QString& line : outputLines(text)) {
        if (const auto row = statFsRow(line))
            return row->counts;
    }
    return std::nullopt;
}

std::optional<ByteCounts> parseDfK(QStringView text) {
    return countsOf(dataOrRoot(text, dfKRow));
}

std::optional<ByteCounts> parseDiskstats(QStringView text) {
    // "Data-Free: 1123448K / 2064208K total = 54% free", from Android 2.2 to today.
    static const QRegularExpression dataFree(
        QStringLiteral("^\\s*Data-Free:\\s*(\\d{1,15})K\\s*/\\s*(\\d{1,15})K total"));
    for (const QString& line : outputLines(text)) {
        const QRegularExpressionMatch m = dataFree.match(line);
        if (!m.hasMatch())
            continue;
        const double free = m.captured(1).toDouble() * 1024;
        const double total = m.captured(2).toDouble() * 1024;
        if (total > 0 && free <= total)
            return ByteCounts{total, free};
    }
    return std::nullopt;
}

std::optional<double> parseRoundedSize(QStringView text) {
    // Toolbox df: "919.5M", "2.3G", "56G", "0.0K"; powers of 1024.
    static const QRegularExpression size(QStringLiteral("^(\\d{1,12})(?:\\.(\\d{1,3}))?([KMGT])$"));
    const QRegularExpressionMatch m = size.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const double value = (m.captured(1) + u'.' + m.captured(2) + u'0').toDouble();
    const int power = int(QStringLiteral("KMGT").indexOf(m.captured(3))) + 1;
    return std::round(value * std::pow(1024.0, power));
}

namespace {

// One row of the old toolbox df: its mount and sizes, or nothing for a row that is none.
std::optional<Row> toolboxDfRow(const QString& line) {
    // Android 2.x: "/data: 1523712K total, 1212432K used, 311280K available (block size
    // 4096)", exact.
    static const QRegularExpression older(
        QStringLiteral("^(\\S+): (\\d{1,15})K total, \\d{1,15}K used, (\\d{1,15})K available"));
    if (const QRegularExpressionMatch m = older.match(line); m.hasMatch())
        return Row{m.captured(1),
                   {m.captured(2).toDouble() * 1024, m.captured(3).toDouble() * 1024},
                   false};
    // Later: "MOUNT  Size  Used  Free  Blksize"; a long mount pushes the numbers right, and rows
    // such as "/mnt/secure/asec: Permission denied" are no sizes at all.
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() != 5)
        return std::nullopt;
    const auto total = parseRoundedSize(fields[1]);
    const auto free = parseRoundedSize(fields[3]);
    if (!total || !free || !parseRoundedSize(fields[2]) || !wholeNumber(fields[4]))
        return std::nullopt;
    return Row{fields[0], {*total, *free}, true};
}

} // namespace

std::optional<ByteCounts> parseToolboxDf(QStringView text) {
    return countsOf(dataOrRoot(text, toolboxDfRow));
}

std::optional<StorageReading> parseStorage(QStringView output) {
    const QStringList parts = splitSections(output, 3);
    for (const QString& line : outputLines(parts[0])) {
        if (const auto row = statFsRow(line))
            return StorageReading{row->counts, row->mount,
                                  line.split(u' ', Qt::SkipEmptyParts).mid(4).join(u' '), false};
    }
    if (const auto row = dataOrRoot(parts[1], dfKRow))
        return StorageReading{row->counts, row->mount, QString(), false};
    if (const auto counts = parseDiskstats(parts[2]))
        return StorageReading{*counts, QStringLiteral("/data"), QString(), false};
    if (const auto row = dataOrRoot(parts[1], toolboxDfRow))
        return StorageReading{row->counts, row->mount, QString(), row->rounded};
    return std::nullopt;
}

} // namespace adb
