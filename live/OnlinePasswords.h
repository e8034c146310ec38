#pragma once

#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Where the web host's password is kept: the desktop's keyring, never the settings
// file. Behind an interface so that tests hand a password in without a keyring.
class IPasswordStore
{
public:
    virtual ~IPasswordStore() = default;
    // Blocking (the keyring may ask the user to unlock it): called on the upload thread.
    // Empty: the keyring could not be reached or holds nothing under that key, or
    // cancel (if given) was set while it was waited for.
    virtual std::optional<QString> Read(const QString& key, const std::atomic<bool>* cancel) = 0;
    // Returns at once; for the window's thread. failed is called there, with the
    // keyring's reason, when the password could not be kept.
    virtual void WriteLater(const QString& key, const QString& password,
                            std::function<void(const QString& reason)> failed) = 0;
};

// The keyring entry that belongs to a folder and user ("user@host" of the target).
QString OnlinePasswordKey(const QUrl& folder, const QString& user);

// The desktop's keyring through QtKeychain.
std::shared_ptr<IPasswordStore> OnlinePasswords();
