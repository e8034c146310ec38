#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// Reads printed PDF files with poppler-utils (pdfinfo, pdftotext, pdffonts;
// tools/setup.sh installs them).
namespace PdfTools {

inline bool Available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdffonts")).isEmpty();
}

inline QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline QString Info(const QString& fileName)
{
    return Run(QStringLiteral("pdfinfo"), {fileName});
}

inline int PageCount(const QString& fileName)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(Info(fileName));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Width and height of the first page in points.
inline QSizeF PageSize(const QString& fileName)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^Page size:\\s+([\\d.]+) x ([\\d.]+) pts"),
                           QRegularExpression::MultilineOption)
            .match(Info(fileName));
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()) : QSizeF();
}

// The text of one page (1-based), laid out as on the page.
inline QString PageText(const QString& fileName, int page)
{
    return Run(QStringLiteral("pdftotext"),
               {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                QString::number(page), fileName, QStringLiteral("-")});
}

// The names of the fonts the file uses.
inline QString Fonts(const QString& fileName)
{
    return Run(QStringLiteral("pdffonts"), {fileName});
}

} // namespace PdfTools
