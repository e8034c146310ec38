#include "OnlinePasswords.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

const QString service = QStringLiteral("Quellorix Online-Ziel");
// A keyring that never answers (a locked one nobody unlocks) must not stall uploads for ever.
constexpr int keyringTimeoutMs = 30000;

class KeychainStore final : public IPasswordStore
{
public:
    std::optional<QString> Read(const QString& key) override
    {
        QKeychain::ReadPasswordJob job(service);
        job.setAutoDelete(false);
        job.setKey(key);
        if (!Run(job))
            return std::nullopt;
        return job.textData();
    }

    bool Write(const QString& key, const QString& password) override
    {
        if (password.isEmpty()) {
            QKeychain::DeletePasswordJob job(service);
            job.setAutoDelete(false);
            job.setKey(key);
            return Run(job) || job.error() == QKeychain::EntryNotFound;
        }
        QKeychain::WritePasswordJob job(service);
        job.setAutoDelete(false);
        job.setKey(key);
        job.setTextData(password);
        return Run(job);
    }

    void WriteLater(const QString& key, const QString& password) override
    {
        auto* job = new QKeychain::WritePasswordJob(service);
        job->setAutoDelete(true);
        job->setKey(key);
        job->setTextData(password);
        job->start();
    }

private:
    static bool Run(QKeychain::Job& job)
    {
        QEventLoop loop;
        bool done = false;
        QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
            done = true;
            loop.quit();
        });
        QTimer::singleShot(keyringTimeoutMs, &loop, &QEventLoop::quit);
        job.start();
        if (!done)
            loop.exec();
        return done && job.error() == QKeychain::NoError;
    }
};

} // namespace

QString OnlinePasswordKey(const QUrl& folder, const QString& user)
{
    const QString name = folder.userName().isEmpty() ? user : folder.userName();
    return QStringLiteral("%1@%2").arg(name, folder.host());
}

std::shared_ptr<IPasswordStore> OnlinePasswords()
{
    return std::make_shared<KeychainStore>();
}
