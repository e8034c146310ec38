#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

// A new zip archive in memory from named parts (compressed, in the given
// order), as office files are made. False with the reason when libzip fails.
bool PackZip(const QList<std::pair<QString, QByteArray>>& parts, QByteArray& archive, QString& reason);
