#include "RunTimeEntry.h"

#include "RunTime.h"

#include <QLocale>

std::optional<QString> RunTimeEntry(const QString& typed)
{
    QString text = typed.trimmed();
    if (text.isEmpty())
        return QString();
    const QString eliminated = QStringLiteral("EL");
    if (text.compare(eliminated, Qt::CaseInsensitive) == 0)
        return eliminated;

    const QString separator = QLocale().decimalPoint();
    text.replace(u'.', separator);
    const qsizetype point = text.indexOf(separator);
    if (text.count(separator) > 1)
        return std::nullopt;
    if (point >= 0 && text.size() - point - separator.size() > 2)
        text.truncate(point + separator.size() + 2);
    for (QChar c : text) {
        // Digits and the separator only: no signs, exponents or group separators.
        if (!c.isDigit() && !separator.contains(c))
            return std::nullopt;
    }
    const int ms = ParseRunTime(text);
    if (ms == InvalidTime || ms < 0)
        return std::nullopt;
    return FormatRunTime(ms);
}
