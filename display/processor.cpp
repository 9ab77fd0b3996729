#include "display/form1.h"

#include <QLabel>

#include <array>
#include <utility>

namespace {

// Exact codes only: there is no grouping by ranges.
constexpr std::array<std::pair<qint32, const char*>, 22> kProcessorNames{{
    {0, "Unavailable"},     {103, "SHx SH3"},       {104, "SHx SH4"},     {386, "INTEL 386"},
    {486, "INTEL 486"},     {586, "INTEL PENTIUM"}, {601, "PPC 601"},     {603, "PPC 603"},
    {604, "PPC 604"},       {620, "PPC 620"},       {821, "PPC 821"},     {860, "INTEL 860"},
    {1824, "ARM 720"},      {2000, "MIPS R2000"},   {2080, "ARM 820"},    {2336, "ARM 920"},
    {2577, "STRONGARM"},    {3000, "MIPS R3000"},   {4000, "MIPS R4000"}, {10003, "HITACHI SH3"},
    {10005, "HITACHI SH4"}, {21064, "ALPHA 21064"},
}};

QString processorName(qint32 code) {
    for (const auto& [known, name] : kProcessorNames) {
        if (known == code)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("Unknown");
}

} // namespace

void Form1::GetProcessorType() {
    const qint32 code = Pelorin1->ProcessorType().toInt32();
    ProcessorLabel->setText(processorName(code));
}
