#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs the .xls reader (quellorix-xls, see xlsreader/XlsSheet.h) in a process
// of its own, with limits on its memory, processor time, wall-clock time and
// output: an .xls is read by code that a crafted file could crash or hold up,
// and that must never take the program, or the times in it, with it.
struct XlsReaderCommand
{
    QString Program;     // empty: quellorix-xls beside the program or in ../lib/quellorix
    QStringList Arguments;
    int TimeLimitMs = 20000;
    qint64 MemoryLimit = qint64(1) << 30; // address space of the reader
    qint64 OutputLimit = qint64(256) << 20;
};

// The command every later RunXlsReader uses (tests put a fake reader here).
void SetXlsReaderCommand(const XlsReaderCommand& command);
XlsReaderCommand CurrentXlsReaderCommand();

// Feeds bytes to the reader and collects what it writes. False with a German
// reason (completing "… kann nicht geladen werden: ") when the reader is
// missing, crashes, runs out of its limits or ends with an error.
bool RunXlsReader(const QByteArray& bytes, QByteArray& output, QString& reason);
