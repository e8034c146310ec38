#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

// The i-th phone on loopback: 127.0.0.2, 127.0.0.3, … (127.0.0.1 is the
// server's own), each an address of its own as a phone on the network would be.
inline QHostAddress Phone(int i)
{
    return QHostAddress(quint32(0x7f000002u + quint32(i)));
}

// A request line and headers for the live results server.
inline QByteArray Get(const QByteArray& path, const QByteArray& method = "GET")
{
    return method + ' ' + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}

// Reads the live results' event stream on the test's thread and keeps every
// event's data, in order.
class StreamReader
{
public:
    explicit StreamReader(quint16 port, const QHostAddress& from = Phone(0))
    {
        socket.bind(from);
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
        socket.waitForConnected(60000); // ends when connected; generous for a loaded machine
        socket.write(Get("/live"));
    }
    QTcpSocket socket;
    QByteArray buffer;
    QList<QByteArray> events;
};
