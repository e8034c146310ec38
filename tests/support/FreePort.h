#pragma once

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QUdpSocket>

// A port for a server a test starts. Not one the kernel hands out for port 0:
// those come from the range it also takes the local ends of outgoing
// connections from (32768 and up on Linux), so a test running beside this one
// could take it for a connection before the server listens on it. Below that
// range only servers bind, and a random pick keeps parallel tests apart.
inline quint16 FreeServerPort()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}

// The same for a UDP port.
inline quint16 FreeUdpPort()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QUdpSocket probe;
        if (probe.bind(QHostAddress::Any, port))
            return port;
    }
    return 0;
}
