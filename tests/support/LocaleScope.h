#pragma once

#include <QLocale>

// Switches the default locale for one test and back.
class LocaleScope
{
public:
    explicit LocaleScope(const QLocale& locale) : m_previous(QLocale()) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};
