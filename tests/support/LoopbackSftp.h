#pragma once

// OpenSSH's sshd with its built-in sftp on a free loopback port, for the upload tests:
// a throwaway host key, a user key the server takes for the user running the test,
// and a home of its own (HOME points there while a test uses it) holding that key in
// .ssh/id_ed25519 and the known_hosts file the transfers check.
#include "LoopbackWebDav.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <pwd.h>
#include <unistd.h>

class LoopbackSftp
{
public:
    static QString Binary()
    {
        return QStandardPaths::findExecutable(QStringLiteral("sshd"), {QStringLiteral("/usr/sbin")});
    }

    // Writes keys and configuration; false if sshd or ssh-keygen is missing.
    bool Prepare()
    {
        if (Binary().isEmpty() || !m_dir.isValid())
            return false;
        const QString d = m_dir.path();
        for (const char* sub : {"www/site", "home/.ssh"})
            QDir(d).mkpath(QString::fromLatin1(sub));
        if (!KeyGen(
                {QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-f"), d + "/hostkey"}) ||
            !KeyGen(
                {QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-f"), d + "/otherkey"}) ||
            !KeyGen({QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-f"),
                     Home() + "/.ssh/id_ed25519"}))
            return false;
        if (!QFile::copy(Home() + "/.ssh/id_ed25519.pub", d + "/authorized_keys"))
            return false;
        const passwd* user = getpwuid(geteuid());
        if (!user)
            return false;
        m_user = QString::fromLocal8Bit(user->pw_name);
        m_port = LoopbackWebDav::FreePort();
        const QByteArray dir = QFile::encodeName(d);
        const QByteArray text = "Port " + QByteArray::number(m_port) + "\nListenAddress 127.0.0.1\nHostKey " +
                                dir + "/hostkey\nPidFile " + dir + "/sshd.pid\nAuthorizedKeysFile " + dir +
                                "/authorized_keys\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                                "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                                "PermitRootLogin prohibit-password\nAllowUsers " +
                                m_user.toLocal8Bit() + "\nSubsystem sftp internal-sftp\n";
        QFile conf(d + QStringLiteral("/sshd_config"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(text);
        return true;
    }

    // Starts sshd and waits (by connecting, up to 10 s) until it answers. fileLimitBlocks > 0: the
    // server can't write files larger than that many 512-byte blocks (a write past it fails as
    // on a full disk; OpenSSH's SFTP reports both as a plain failure).
    bool Start(int fileLimitBlocks = 0)
    {
        if (geteuid() == 0)
            QDir().mkpath(QStringLiteral("/run/sshd")); // its privilege separation needs it
        m_server = std::make_unique<QProcess>();
        m_server->setProcessChannelMode(QProcess::ForwardedChannels);
        const QStringList arguments = {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"),
                                       m_dir.path() + QStringLiteral("/sshd_config")};
        if (fileLimitBlocks > 0) {
            // Ignored, the signal would end the server instead of failing the write.
            m_server->start(
                QStringLiteral("/bin/sh"),
                QStringList{
                    QStringLiteral("-c"),
                    QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(fileLimitBlocks),
                    Binary()} +
                    arguments);
        } else {
            m_server->start(Binary(), arguments);
        }
        if (!m_server->waitForStarted())
            return false;
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
            if (LoopbackWebDav::Answers(m_port))
                return true;
            if (m_server->waitForFinished(0))
                return false;
        }
        return false;
    }

    ~LoopbackSftp()
    {
        if (m_server) {
            m_server->kill();
            m_server->waitForFinished();
        }
    }

    QString Home() const { return m_dir.path() + QStringLiteral("/home"); }
    QString KnownHosts() const { return Home() + QStringLiteral("/.ssh/known_hosts"); }
    QUrl Folder() const
    {
        return QUrl(
            QStringLiteral("sftp://%1@127.0.0.1:%2%3/www/site/").arg(m_user).arg(m_port).arg(m_dir.path()));
    }
    QString Path(const QString& file) const { return m_dir.path() + QStringLiteral("/www/site/") + file; }
    QByteArray Read(const QString& file) const
    {
        QFile f(m_dir.path() + QStringLiteral("/www/site/") + file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // known_hosts naming this server with its own key, another key, or not at all.
    enum class Known { Right, Other, Missing };
    bool WriteKnownHosts(Known known) const
    {
        QFile::remove(KnownHosts());
        if (known == Known::Missing)
            return true;
        QFile key(m_dir.path() +
                  (known == Known::Right ? QStringLiteral("/hostkey.pub") : QStringLiteral("/otherkey.pub")));
        QFile out(KnownHosts());
        if (!key.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
            return false;
        const QList<QByteArray> parts = key.readAll().split(' ');
        out.write("[127.0.0.1]:" + QByteArray::number(m_port) + ' ' + parts.value(0) + ' ' + parts.value(1) +
                  '\n');
        return true;
    }
    QByteArray KnownHostsText() const
    {
        QFile f(KnownHosts());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    static bool KeyGen(QStringList arguments)
    {
        arguments << QStringLiteral("-N") << QString() << QStringLiteral("-q");
        QProcess keygen;
        keygen.start(QStringLiteral("ssh-keygen"), arguments);
        return keygen.waitForFinished(30000) && keygen.exitStatus() == QProcess::NormalExit &&
               keygen.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    QString m_user;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_server;
};
