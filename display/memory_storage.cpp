#include "display/form1.h"

#include "display/text_format.h"
#include "layout/progress_bar.h"

#include <QLabel>

namespace {

const QString kUnavailable = QStringLiteral("Unavailable");
const QString kBytes = QStringLiteral(" bytes");

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
    bar->setValue(display::usagePercent(totalBytes, remainingBytes));
}
