#include "XlsProcess.h"

#include "ReadCancel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

QMutex g_commandMutex;
XlsReaderCommand g_command;

QString ReaderProgram()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("quellorix-xls.exe");
#else
    const QString name = QStringLiteral("quellorix-xls");
#endif
    const QDir folder(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {folder.absoluteFilePath(name),
                                     folder.absoluteFilePath(QStringLiteral("../lib/quellorix/") + name)}) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return {};
}

} // namespace

void SetXlsReaderCommand(const XlsReaderCommand& command)
{
    const QMutexLocker lock(&g_commandMutex);
    g_command = command;
}

XlsReaderCommand CurrentXlsReaderCommand()
{
    const QMutexLocker lock(&g_commandMutex);
    return g_command;
}

bool RunXlsReader(const QByteArray& bytes, QByteArray& output, QString& reason)
{
    const XlsReaderCommand command = CurrentXlsReaderCommand();
    const QString program = command.Program.isEmpty() ? ReaderProgram() : command.Program;
    if (program.isEmpty()) {
        reason = QStringLiteral("das Leseprogramm für .xls-Dateien (quellorix-xls) fehlt; bitte die "
                                "Datei im Tabellenprogramm als .xlsx oder .ods speichern und diese Datei laden");
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(command.Arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    const qint64 memory = command.MemoryLimit;
    const rlim_t seconds = rlim_t(command.TimeLimitMs / 1000 + 1);
    process.setChildProcessModifier([memory, seconds] {
        // Only system calls here: this runs between fork and exec.
#ifndef __SANITIZE_ADDRESS__
        // (A reader built with AddressSanitizer reserves terabytes of address space; there it has no such limit.)
        const rlimit addressSpace{rlim_t(memory), rlim_t(memory)};
        setrlimit(RLIMIT_AS, &addressSpace);
#else
        Q_UNUSED(memory);
#endif
        const rlimit cpu{seconds, seconds};
        setrlimit(RLIMIT_CPU, &cpu);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
    });
#endif
    process.start();
    if (!process.waitForStarted(10000)) {
        reason = QStringLiteral("das Leseprogramm für .xls-Dateien (%1) startet nicht")
                     .arg(QDir::toNativeSeparators(program));
        return false;
    }
    process.write(bytes);
    process.closeWriteChannel();
    output.clear();
    QElapsedTimer clock;
    clock.start();
    bool overTime = false;
    bool overSize = false;
    bool cancelled = false;
    while (process.state() != QProcess::NotRunning) {
        const qint64 left = command.TimeLimitMs - clock.elapsed();
        if (ReadCancelled()) {
            cancelled = true;
            break;
        }
        if (left <= 0) {
            overTime = true;
            break;
        }
        if (process.bytesToWrite() > 0)
            process.waitForBytesWritten(int(std::min<qint64>(left, 200)));
        else
            process.waitForReadyRead(int(std::min<qint64>(left, 200)));
        output += process.readAllStandardOutput();
        if (output.size() > command.OutputLimit) {
            overSize = true;
            break;
        }
    }
    if (overTime || overSize || cancelled) {
        process.kill();
        process.waitForFinished(5000);
        output.clear();
        reason = cancelled ? QString::fromUtf16(kReadCancelledReason)
                 : overTime ? QStringLiteral("das Lesen der .xls-Datei dauerte zu lange und wurde abgebrochen")
                            : QStringLiteral("die .xls-Datei enthält zu viele Daten");
        return false;
    }
    output += process.readAllStandardOutput();
    if (process.exitStatus() == QProcess::CrashExit || process.exitCode() != 0) {
        output.clear();
        reason = QStringLiteral("das Lesen der .xls-Datei ist gescheitert (das Leseprogramm brach ab, "
                                "vermutlich ist die Datei beschädigt oder zu groß)");
        return false;
    }
    return true;
}
