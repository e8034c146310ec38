#pragma once

#include "OnlinePasswords.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>

// A keyring in memory, so that no test reads or writes the desktop's. Reads come
// from the upload thread.
class TestPasswords final : public IPasswordStore
{
public:
    // Non-empty: the keyring refuses every write with this reason, as one that
    // is missing or locked does.
    QString refuseWith;

    std::optional<QString> Read(const QString& key) override
    {
        QMutexLocker lock(&m_mutex);
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
            QCoreApplication::instance(), [failed, reason = refuseWith] { failed(reason); },
            Qt::QueuedConnection);
    }

private:
    QMutex m_mutex;
    QHash<QString, QString> m_kept;
};
