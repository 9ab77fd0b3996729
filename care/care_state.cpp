#include "care/care_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace care {
namespace {

constexpr int kVersion = 1;
// A file larger than any this program writes is not read.
constexpr qint64 kMaxBytes = 1 << 20;
// Devices remembered; a lab's hubs hold far fewer.
constexpr int kMaxDevices = 1000;
// As long as the rules keep quiet after a notice: an armed memory older says nothing.
constexpr qint64 kQuietSeconds = 10 * 60;
const char* const kKindNames[] = {"charged", "low", "hot", "draining"};
static_assert(std::size(kKindNames) == kKinds);

} // namespace

QString statePath() {
    // Qt 6.4 has no state location of its own.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/device-info/care-state.json");
}

KeptState parseState(const QByteArray& text, const QDateTime& now) {
    KeptState out;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (!document.isObject()) {
        out.problem = QStringLiteral("is not JSON (%1)").arg(error.errorString());
        return out;
    }
    const QJsonObject top = document.object();
    if (top.value(QLatin1String("version")).toInt() != kVersion) {
        out.problem = QStringLiteral("is of a version this program does not know");
        return out;
    }
    const QJsonObject devices = top.value(QLatin1String("devices")).toObject();
    for (auto d = devices.begin(); d != devices.end() && out.state.size() < kMaxDevices; ++d) {
        std::array<Armed, kKinds> kinds;
        bool any = false;
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            const QJsonObject said =
                d.value().toObject().value(QLatin1String(kKindNames[k])).toObject();
            const QDateTime at =
                QDateTime::fromString(said.value(QLatin1String("at")).toString(), Qt::ISODate);
            if (!at.isValid())
                continue;
            // A stamp to come is a clock that ran ahead: it silences nothing.
            kinds[k].last = at > now ? now.addSecs(-kQuietSeconds) : at;
            kinds[k].armed = said.value(QLatin1String("ended")).toBool(true);
            kinds[k].text = said.value(QLatin1String("said")).toString().left(500);
            any = true;
        }
        if (any && !d.key().isEmpty())
            out.state.insert(d.key(), kinds);
    }
    return out;
}

QByteArray stateText(const RulesState& state, const QDateTime& now) {
    struct Kept {
        QString serial;
        QJsonObject said;
        QDateTime latest;
    };
    std::vector<Kept> kept;
    for (auto d = state.begin(); d != state.end(); ++d) {
        Kept device{d.key(), {}, {}};
        for (std::size_t k = 0; k < d.value().size(); ++k) {
            const Armed& a = d.value()[k];
            if (!a.last.isValid() || (a.armed && a.last.secsTo(now) >= kQuietSeconds))
                continue;
            device.said.insert(QLatin1String(kKindNames[k]),
                               QJsonObject{{"at", a.last.toUTC().toString(Qt::ISODate)},
                                           {"ended", a.armed},
                                           {"said", a.text}});
            device.latest = std::max(device.latest, a.last);
        }
        if (!device.said.isEmpty())
            kept.push_back(std::move(device));
    }
    std::sort(kept.begin(), kept.end(),
              [](const Kept& a, const Kept& b) { return a.latest > b.latest; });
    QJsonObject devices;
    for (std::size_t i = 0; i < kept.size() && i < std::size_t(kMaxDevices); ++i)
        devices.insert(kept[i].serial, kept[i].said);
    return QJsonDocument(QJsonObject{{"version", kVersion}, {"devices", devices}}).toJson();
}

KeptRules::KeptRules(QString path, Clock clock, Say say)
    : m_path(std::move(path)), m_clock(std::move(clock)), m_say(std::move(say)) {
    reload();
}

void KeptRules::reload() {
    QFile file(m_path);
    if (!file.exists()) {
        m_saidProblem.clear();
        return m_rules.setState({});
    }
    KeptState kept;
    // A FIFO or a device in its place would hold the open; only a file is read.
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly))
        kept.problem = QStringLiteral("cannot be read");
    else if (file.size() > kMaxBytes)
        kept.problem = QStringLiteral("is larger than this program ever writes");
    else
        kept = parseState(file.read(kMaxBytes), m_clock());
    if (!kept.problem.isEmpty() && kept.problem != m_saidProblem)
        m_say(QStringLiteral("what battery care said before, in %1, %2: it starts afresh")
                  .arg(m_path, kept.problem));
    m_saidProblem = kept.problem;
    m_rules.setState(std::move(kept.state));
}

std::vector<Notice> KeptRules::step(const Limits& limits, Reading reading) {
    const RulesState before = m_rules.state();
    std::vector<Notice> notices = m_rules.step(limits, reading);
    if (m_rules.state() == before)
        return notices;
    QDir().mkpath(QFileInfo(m_path).path());
    QSaveFile file(m_path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(stateText(m_rules.state(), m_clock())) >= 0 && file.commit();
    if (!written && !m_saidWrite)
        m_say(QStringLiteral("what battery care says cannot be kept in %1 (%2)")
                  .arg(m_path, file.errorString()));
    m_saidWrite = !written;
    return notices;
}

} // namespace care
