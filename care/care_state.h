// What battery care has said, kept in $XDG_STATE_HOME/device-info/care-state.json so that a
// watcher started again (a new login, a crash) or a window that takes over from it says nothing
// twice: for each device, the last notice of each kind, when it came, and whether its condition
// has ended since. Written whole and atomically; a file that is missing or broken is an empty
// memory, said in one line.
#pragma once

#include "display/battery_care.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

namespace care {

// Where the memory is kept.
QString statePath();

struct KeptState {
    RulesState state;
    QString problem; // one line on why nothing could be taken from the file; empty: none
};

// The memory in TEXT, as of NOW: a time after NOW (a clock set back) silences nothing.
KeptState parseState(const QByteArray& text, const QDateTime& now);
// STATE as text, as of NOW, without what is the same as knowing nothing (armed, and quiet for
// long enough), and without the devices heard of least lately beyond the most that are kept.
QByteArray stateText(const RulesState& state, const QDateTime& now);

// The rules of battery care, with their memory kept at a path.
class KeptRules {
public:
    using Clock = std::function<QDateTime()>;
    using Say = std::function<void(const QString&)>;
    KeptRules(QString path, Clock clock, Say say);

    // Takes the memory from the file again: what another process said meanwhile.
    void reload();
    // What READING gives under LIMITS, as Rules::step; the memory is written when it changed.
    std::vector<Notice> step(const Limits& limits, Reading reading);
    const RulesState& state() const { return m_rules.state(); }

private:
    QString m_path;
    Clock m_clock;
    Say m_say;
    Rules m_rules;
    bool m_saidWrite = false;
    QString m_saidProblem; // with the file, said once
};

} // namespace care
