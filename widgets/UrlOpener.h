#pragma once

#include <QUrl>
#include <functional>

// Every web address and document the program hands to the desktop (browser,
// help viewer, office program) goes through this seam, so tests can answer it
// without starting anything: SetUrlOpener() installs a replacement, an empty
// function restores the desktop's own (QDesktopServices::openUrl).
bool OpenUrl(const QUrl& url);
void SetUrlOpener(std::function<bool(const QUrl&)> opener);
