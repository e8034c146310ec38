#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

// A request line and headers for the live results server.
inline QByteArray Get(const QByteArray& path, const QByteArray& method = "GET")
{
    return method + ' ' + path + " HTTP/1.1\r\nHost: quellorix\r\n\r\n";
}

// Reads the live results' event stream on the test's thread and keeps every
// event's data, in order.
class StreamReader
{
public:
    explicit StreamReader(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            buffer += socket.readAll();
            for (qsizetype end; (end = buffer.indexOf("\n\n")) >= 0;) {
                const QByteArray block = buffer.left(end);
                buffer.remove(0, end + 2);
                const qsizetype data = block.indexOf("data: ");
                if (data >= 0)
                    events << block.mid(data + 6);
            }
        });
        socket.waitForConnected(5000);
        socket.write(Get("/live"));
    }
    QTcpSocket socket;
    QByteArray buffer;
    QList<QByteArray> events;
};
