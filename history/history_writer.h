// Writes records to the history on a thread of its own, so that the window never waits for the
// disk. A record that cannot be written is kept and tried again with the next one; each kind of
// trouble is said once.
#pragma once

#include "history/history_record.h"

#include <QObject>
#include <QThread>

namespace history {

class WriterWorker;

class Writer : public QObject {
    Q_OBJECT
public:
    explicit Writer(const QString& path, QObject* parent = nullptr);
    // Lets what is queued be tried, then stops the thread.
    ~Writer() override;
    Q_DISABLE_COPY_MOVE(Writer)

    // Queues RECORD; returns at once.
    void write(const Record& record);
    // Waits, at most MS, until everything queued so far was tried (for tests and benchmarks).
    bool flush(int ms);

signals:
    // Something a person should hear of, once: the history is off and why, a damaged file was
    // moved aside, a record could not be written.
    void notice(const QString& text);
    // Records written so far.
    void written(int total);

private:
    QThread m_thread;
    WriterWorker* m_worker; // lives on m_thread
};

} // namespace history
