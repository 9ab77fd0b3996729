// Writes COUNT records of SERIAL to the history at PATH, one transaction each, as a window
// would over months: for the test of two writers at once.
//   history-writer PATH SERIAL COUNT
#include "history/history_store.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    try {
        history::Store store(QString::fromLocal8Bit(argv[1]), history::Store::Mode::Write);
        const int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            history::Record r;
            r.time = QDateTime::currentDateTimeUtc();
            r.serial = QString::fromLocal8Bit(argv[2]);
            r.kind = DeviceKind::Android;
            r.fullMah = 4000 - i;
            r.designMah = 4385;
            store.write({r});
        }
    } catch (const history::StoreError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
