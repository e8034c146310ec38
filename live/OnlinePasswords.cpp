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

    void WriteLater(const QString& key, const QString& password,
                    std::function<void(const QString& reason)> failed) override
    {
        auto* job = new QKeychain::WritePasswordJob(service);
        job->setAutoDelete(true);
        job->setKey(key);
        job->setTextData(password);
        QObject::connect(job, &QKeychain::Job::finished, job,
                         [failed = std::move(failed)](QKeychain::Job* done) {
                             if (done->error() != QKeychain::NoError && failed)
                                 failed(done->errorString());
                         });
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
