// What one refresh's queries are answered from. The first query of a refresh reads the device
// (or takes what a connecting device was read with) and the later queries of the same run take
// from it. The values are dropped on the next turn of the event loop, and as soon as a query
// they already answered is asked again, so that every press of Refresh reads the device anew.
#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <utility>

template <typename Values> class RefreshAnswers {
public:
    // OWNER is the link that holds these; the drop runs on its thread.
    explicit RefreshAnswers(QObject* owner) : m_owner(owner) {}

    // Whether QUERY (one bit of the caller's choosing) must read DEVICE anew.
    bool stale(const QString& device, quint32 query) const {
        return !m_kept || m_kept->device != device || (m_kept->asked & query);
    }

    void keep(const QString& device, Values values) {
        m_kept = Kept{device, std::move(values), 0};
        QMetaObject::invokeMethod(
            m_owner,
            [this, generation = ++m_generation] {
                if (generation == m_generation)
                    m_kept.reset();
            },
            Qt::QueuedConnection);
    }

    // The values, with QUERY marked as answered from them. Only after keep().
    const Values& take(quint32 query) {
        m_kept->asked |= query;
        return m_kept->values;
    }

    void clear() { m_kept.reset(); }

private:
    struct Kept {
        QString device;
        Values values;
        quint32 asked = 0;
    };
    QObject* m_owner;
    std::optional<Kept> m_kept;
    quint64 m_generation = 0;
};
