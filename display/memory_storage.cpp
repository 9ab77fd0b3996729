#include "display/form1.h"

#include "display/text_format.h"
#include "layout/progress_bar.h"

#include <QLabel>

#include <algorithm>
#include <cmath>

namespace {

const QString kUnavailable = QStringLiteral("Unavailable");
const QString kBytes = QStringLiteral(" bytes");

// Percentage in use. An empty total (a storage card with no space) reads as nothing in use
// rather than failing, and whatever a device reports stays on the bar's scale.
float usagePercent(double total, double remaining) {
    if (total == 0.0)
        return 0.0f;
    const double usage = 100.0 - (remaining / total) * 100.0;
    if (!std::isfinite(usage))
        return 0.0f;
    return static_cast<float>(std::clamp(usage, 0.0, 100.0));
}

} // namespace

void Form1::GetMemoryInfo() {
    fillBytePanel(&Pelorin::GetMemoryStatus, MemoryLabel, AvailableLabel, MemoryUsageBar);
}

void Form1::GetStorageInfo() {
    fillBytePanel(&Pelorin::GetStorageStatus, StorageLabel, StorageFreeLabel, StorageUsageBar);
}

void Form1::fillBytePanel(DeviceValue (Pelorin::*query)(DeviceValue&, DeviceValue&), QLabel* first,
                          QLabel* second, ProgressBar* bar) {
    first->setText(kUnavailable);
    second->setText(kUnavailable);
    DeviceValue total;
    DeviceValue remaining;
    if (!(Pelorin1.get()->*query)(total, remaining).toBool())
        return;
    const double totalBytes = total.toDouble();
    first->setText(display::groupedWholeNumber(totalBytes) + kBytes);
    const double remainingBytes = remaining.toDouble();
    second->setText(display::groupedWholeNumber(remainingBytes) + kBytes);
    bar->setValue(usagePercent(totalBytes, remainingBytes));
}
