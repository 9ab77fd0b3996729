#include "history/history_writer.h"

#include "history/history_store.h"

#include <QDeadlineTimer>
#include <QSet>

#include <atomic>

#include <memory>
#include <vector>

namespace history {
namespace {

// Years of daily readings of a lab's devices; past it, while the history cannot be written, the
// oldest wait no longer.
constexpr std::size_t kMaxPending = 1000;

} // namespace

class WriterWorker : public QObject {
    Q_OBJECT
public:
    explicit WriterWorker(QString path) : m_path(std::move(path)) {}

    void write(const Record& record) {
        m_pending.push_back(record);
        if (m_pending.size() > kMaxPending) {
            m_pending.erase(m_pending.begin());
            say(QStringLiteral("The battery history keeps at most %1 readings while it cannot "
                               "write them; the oldest are let go.")
                    .arg(kMaxPending));
        }
        try {
            if (!m_store) {
                m_store = std::make_unique<Store>(m_path, Store::Mode::Write);
                say(m_store->notice());
            }
            m_store->write(m_pending);
            m_total += int(m_pending.size());
            m_pending.clear();
            emit written(m_total);
        } catch (const StoreError& e) {
            // Kept for the next reading, which tries again; said once.
            if (!m_store)
                say(QStringLiteral("The battery history is off: %1.")
                        .arg(QString::fromUtf8(e.what())));
            else
                say(QStringLiteral("The battery history could not keep a reading (%1); it tries "
                                   "again with the next one.")
                        .arg(QString::fromUtf8(e.what())));
        }
    }

    ~WriterWorker() override = default;

signals:
    void notice(const QString& text);
    void written(int total);

private:
    void say(const QString& text) {
        if (text.isEmpty() || m_said.contains(text))
            return;
        m_said.insert(text);
        emit notice(text);
    }

    QString m_path;
    std::unique_ptr<Store> m_store;
    std::vector<Record> m_pending;
    QSet<QString> m_said;
    int m_total = 0;
};

Writer::Writer(const QString& path, QObject* parent)
    : QObject(parent), m_worker(new WriterWorker(path)) {
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &WriterWorker::notice, this, &Writer::notice);
    connect(m_worker, &WriterWorker::written, this, &Writer::written);
    m_thread.setObjectName(QStringLiteral("history writer"));
    m_thread.start(QThread::LowPriority);
}

Writer::~Writer() {
    m_thread.quit();
    m_thread.wait();
}

void Writer::write(const Record& record) {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, record] { worker->write(record); }, Qt::QueuedConnection);
}

bool Writer::flush(int ms) {
    // A call that waits for its turn behind every write queued before it.
    const QDeadlineTimer deadline(ms);
    const auto done = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        m_worker, [done] { *done = true; }, Qt::QueuedConnection);
    while (!*done && !deadline.hasExpired())
        QThread::msleep(1);
    return *done;
}

} // namespace history

#include "history_writer.moc"
