#include "CellFormulaGuard.h"

namespace {

bool StartsFormula(QChar c)
{
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// "-12", "-1,5" or "-0.25": a negative number, which a spreadsheet should read as one.
bool IsNegativeNumber(const QString& text)
{
    qsizetype i = 1;
    const qsizetype whole = i;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    if (i == whole)
        return false;
    if (i < text.size() && (text[i] == u',' || text[i] == u'.')) {
        const qsizetype fraction = ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        if (i == fraction)
            return false;
    }
    return i == text.size();
}

// The index of the first character after the leading apostrophes.
qsizetype AfterApostrophes(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u'\'')
        ++i;
    return i;
}

} // namespace

QString GuardedCellText(const QString& text)
{
    const qsizetype first = AfterApostrophes(text);
    if (first >= text.size() || !StartsFormula(text[first]))
        return text;
    if (first == 0 && text[0] == u'-' && IsNegativeNumber(text))
        return text;
    return u'\'' + text;
}

QString UnguardedCellText(const QString& text)
{
    const qsizetype first = AfterApostrophes(text);
    if (first == 0 || first >= text.size() || !StartsFormula(text[first]))
        return text;
    return text.mid(1);
}
