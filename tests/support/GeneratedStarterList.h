#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A starter list of any length for benchmarks: numbered starters in seven
// classes and 31 clubs, as a semicolon-separated file with a header line.
inline void WriteGeneratedStarterList(const QString& fileName, int starters)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QByteArray text = "Nr.;Name;Vorname;Verein;Klasse\r\n";
    for (int i = 1; i <= starters; ++i)
        text += QByteArray::number(i) + ";Name" + QByteArray::number(i % 977) + ";Vorname;Verein " +
                QByteArray::number(i % 31) + ";" + char('A' + i % 7) + "\r\n";
    file.write(text);
}
