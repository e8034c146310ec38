#pragma once

#include "OnlinePasswords.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QWaitCondition>

// A keyring in memory, so that no test reads or writes the desktop's. Reads come
// from the upload thread.
class TestPasswords final : public IPasswordStore
{
public:
    // Non-empty: the keyring refuses every write with this reason, as one that
    // is missing or locked does.
    QString refuseWith;
    // A keyring whose wait can't be cut short: only Release() or its own limit ends it.
    bool ignoreCancel = false;

    std::optional<QString> Read(const QString& key, const std::atomic<bool>* cancel) override
    {
        QMutexLocker lock(&m_mutex);
        if (m_hold) {
            // A keyring that doesn't answer: it gives up after half a minute, as the
            // desktop's does, and whoever reads may stop waiting.
            ++m_waiting;
            m_changed.wakeAll();
            for (QDeadlineTimer limit(30000); m_hold && !limit.hasExpired();) {
                if (cancel && cancel->load() && !ignoreCancel) {
                    ++m_cancelled;
                    break;
                }
                m_changed.wait(&m_mutex, QDeadlineTimer(20));
            }
            --m_waiting;
            m_changed.wakeAll();
        }
        const auto it = m_kept.constFind(key);
        return it == m_kept.constEnd() ? std::nullopt : std::optional<QString>(*it);
    }

    void WriteLater(const QString& key, const QString& password,
                    std::function<void(const QString& reason)> failed) override
    {
        if (refuseWith.isEmpty()) {
            QMutexLocker lock(&m_mutex);
            m_kept.insert(key, password);
            return;
        }
        // Like the keyring's job, the answer comes later.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [failed, reason = refuseWith] {
                if (failed)
                    failed(reason);
            },
            Qt::QueuedConnection);
    }

    // Reads from now on wait until Release().
    void Hold()
    {
        QMutexLocker lock(&m_mutex);
        m_hold = true;
    }
    void Release()
    {
        QMutexLocker lock(&m_mutex);
        m_hold = false;
        m_changed.wakeAll();
    }
    // Reads waiting now, and those that stopped waiting because their reader gave up.
    int Waiting()
    {
        QMutexLocker lock(&m_mutex);
        return m_waiting;
    }
    int Cancelled()
    {
        QMutexLocker lock(&m_mutex);
        return m_cancelled;
    }

private:
    QMutex m_mutex;
    QWaitCondition m_changed;
    QHash<QString, QString> m_kept;
    bool m_hold = false;
    int m_waiting = 0;
    int m_cancelled = 0;
};
