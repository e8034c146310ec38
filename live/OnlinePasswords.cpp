#include "OnlinePasswords.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

const QString service = QStringLiteral("Quellorix Online-Ziel");
// A keyring that never answers (a locked one nobody unlocks) must not stall uploads for ever.
constexpr int keyringTimeoutMs = 30000;
constexpr int cancelCheckMs = 50;

class KeychainStore final : public IPasswordStore
{
public:
    std::optional<QString> Read(const QString& key, const std::atomic<bool>* cancel) override
    {
        QKeychain::ReadPasswordJob job(service);
        job.setAutoDelete(false);
        job.setKey(key);
        if (!Run(job, cancel))
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
    static bool Run(QKeychain::Job& job, const std::atomic<bool>* cancel)
    {
        QEventLoop loop;
        bool done = false;
        QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
            done = true;
            loop.quit();
        });
        QTimer::singleShot(keyringTimeoutMs, &loop, &QEventLoop::quit);
        // The job has no cancel of its own: whoever waits for it stops looking.
        QTimer cancelled;
        if (cancel) {
            QObject::connect(&cancelled, &QTimer::timeout, &loop, [&] {
                if (cancel->load())
                    loop.quit();
            });
            cancelled.start(cancelCheckMs);
        }
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
