#pragma once

// nginx with WebDAV on a free loopback port, for the upload tests and bench: /site/ takes
// PUT and MOVE from anyone, /locked/ only from "verein" with the password "richtig",
// /ro/ takes no writes, /kaputt/ answers everything with 500, /voll/ is like /site/ until
// SetStorageFull. A second port speaks TLS with a certificate nobody signed
// (TlsFolder), for the certificate check.
#include "FreePort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <unistd.h>

class LoopbackWebDav
{
public:
    static QString Binary()
    {
        return QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin")});
    }

    static quint16 FreePort() { return FreeServerPort(); }

    // A connection from a loopback address of the tests' own.
    static bool Answers(quint16 port)
    {
        QTcpSocket socket;
        socket.bind(QHostAddress(QStringLiteral("127.0.0.2")));
        socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
        return socket.waitForConnected(200);
    }

    // Writes the configuration; false if nginx is missing.
    bool Prepare()
    {
        if (Binary().isEmpty() || !m_dir.isValid())
            return false;
        const QString d = m_dir.path();
        for (const char* sub : {"www/site", "www/locked", "www/ro", "www/voll", "body"})
            QDir(d).mkpath(QString::fromLatin1(sub));
        QFile pw(d + QStringLiteral("/htpasswd"));
        if (!pw.open(QIODevice::WriteOnly))
            return false;
        pw.write("verein:{PLAIN}richtig\n");
        pw.close();
        m_port = FreePort();
        m_tlsPort = FreePort();
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                       d + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                       d + QStringLiteral("/cert.pem"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-days"), QStringLiteral("2")});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return false;
        const QByteArray dir = d.toUtf8();
        QByteArray text;
        if (geteuid() == 0)
            text += "user root;\n";
        text += "daemon off; master_process off; pid " + dir + "/nginx.pid; error_log " + dir +
                "/error.log;\nevents {}\nhttp {\n access_log off; client_body_temp_path " + dir + "/body;\n" +
                " proxy_temp_path " + dir + "/body; fastcgi_temp_path " + dir + "/body; uwsgi_temp_path " +
                dir + "/body; scgi_temp_path " + dir +
                "/body;\n server {\n  listen 127.0.0.1:" + QByteArray::number(m_port) + ";\n  root " + dir +
                "/www;\n  location /site/ { dav_methods PUT DELETE MKCOL COPY MOVE; }\n"
                "  location /kaputt/ { return 500; }\n"
                "  location /voll/ { dav_methods PUT DELETE MOVE; set $voll \"\";\n"
                "   if (-f " +
                dir +
                "/voll.flag) { set $voll 1; }\n"
                "   if ($request_method = MOVE) { set $voll \"${voll}M\"; }\n"
                "   if ($voll = 1M) { return 507; }\n  }\n"
                "  location /locked/ { dav_methods PUT DELETE MOVE; auth_basic \"Verein\"; "
                "auth_basic_user_file " +
                dir + "/htpasswd; }\n  location /ro/ { }\n }\n server {\n  listen 127.0.0.1:" +
                QByteArray::number(m_tlsPort) + " ssl;\n  ssl_certificate " + dir +
                "/cert.pem;\n  ssl_certificate_key " + dir + "/key.pem;\n  root " + dir +
                "/www;\n  location /site/ { dav_methods PUT DELETE MOVE; }\n }\n}\n";
        QFile conf(d + QStringLiteral("/nginx.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(text);
        return true;
    }

    // Starts nginx and waits (by connecting, up to 10 s) until it answers.
    bool Start()
    {
        m_server = std::make_unique<QProcess>();
        m_server->setProcessChannelMode(QProcess::ForwardedChannels);
        m_server->start(Binary(), {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-c"),
                                   m_dir.path() + QStringLiteral("/nginx.conf")});
        if (!m_server->waitForStarted())
            return false;
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
            if (Answers(m_port))
                return true;
            if (m_server->waitForFinished(0))
                return false;
        }
        return false;
    }

    void Stop()
    {
        if (!m_server)
            return;
        m_server->kill();
        m_server->waitForFinished();
        m_server.reset();
    }

    ~LoopbackWebDav() { Stop(); }

    // While full, /voll/ takes uploads but answers their MOVE with 507 Insufficient Storage.
    void SetStorageFull(bool full)
    {
        const QString flag = m_dir.path() + QStringLiteral("/voll.flag");
        if (full)
            QFile(flag).open(QIODevice::WriteOnly);
        else
            QFile::remove(flag);
    }

    quint16 Port() const { return m_port; }
    QUrl Folder(const QString& name) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2/").arg(m_port).arg(name));
    }
    QUrl TlsFolder(const QString& name) const
    {
        return QUrl(QStringLiteral("https://127.0.0.1:%1/%2/").arg(m_tlsPort).arg(name));
    }
    QString Path(const QString& folder, const QString& file) const
    {
        return m_dir.path() + QStringLiteral("/www/") + folder + QLatin1Char('/') + file;
    }
    QByteArray Read(const QString& folder, const QString& file) const
    {
        QFile f(Path(folder, file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    std::unique_ptr<QProcess> m_server;
};
