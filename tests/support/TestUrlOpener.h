#pragma once

#include "UrlOpener.h"

#include <QList>
#include <QUrl>

// Records the addresses and files handed to the desktop instead of opening
// them. Installs itself for its lifetime.
class TestUrlOpener
{
public:
    TestUrlOpener()
    {
        SetUrlOpener([this](const QUrl& url) {
            opened.append(url);
            return answer;
        });
    }
    ~TestUrlOpener() { SetUrlOpener({}); }
    TestUrlOpener(const TestUrlOpener&) = delete;
    TestUrlOpener& operator=(const TestUrlOpener&) = delete;

    QList<QUrl> opened; // every address handed over, in order
    bool answer = true; // what the desktop answers
};
