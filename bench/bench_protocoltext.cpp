// Time to write (as text and as CSV) and to parse starter lists of 10,000 and 100,000 rows.

#include "ProtocolText.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <cstdio>

namespace {

ProtocolTable StarterList(int count)
{
    ProtocolTable rows;
    rows.reserve(count + 1);
    rows.append({"Nr.", "Name", "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2", "Lauf3", "Lauf4", "Lauf5",
                 "Lauf6", "Gesamt", "Platz", "¹"});
    for (int i = 1; i <= count; ++i) {
        rows.append({QString::number(i), QStringLiteral("Müller-%1").arg(i), QStringLiteral("Jürgen"),
                     QStringLiteral("SC Weißenfels"), QString(QChar(u'A' + i % 4)), QStringLiteral("31,25"),
                     QStringLiteral("30,80"), QString(), QString(), QString(), QString(), QString(),
                     QString(), QString::number(i)});
    }
    return rows;
}

double Milliseconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

void Measure(int count)
{
    const ProtocolTable rows = StarterList(count);

    QElapsedTimer timer;
    timer.start();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const bool written = WriteProtocolText(buffer, rows, kProtocolColumnCount);
    const double writeMs = Milliseconds(timer);

    timer.restart();
    const QByteArray csv = ProtocolCsvBytes(rows, kProtocolColumnCount);
    const double csvMs = Milliseconds(timer);

    timer.restart();
    const ProtocolTable parsed = ParseProtocolText(buffer.data());
    const double parseMs = Milliseconds(timer);

    std::printf("%7d rows, %6.1f MB: write %8.1f ms%s, CSV %8.1f ms (%.1f MB), "
                "parse %8.1f ms (%lld rows back)\n",
                count, double(buffer.size()) / (1024.0 * 1024.0), writeMs, written ? "" : " (failed)", csvMs,
                double(csv.size()) / (1024.0 * 1024.0), parseMs, static_cast<long long>(parsed.size()));
}

} // namespace

int main()
{
    Measure(10000);
    Measure(100000);
    return 0;
}
