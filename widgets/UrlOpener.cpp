#include "UrlOpener.h"

#include <QDesktopServices>

namespace {

std::function<bool(const QUrl&)>& Opener()
{
    static std::function<bool(const QUrl&)> opener;
    return opener;
}

} // namespace

bool OpenUrl(const QUrl& url)
{
    return Opener() ? Opener()(url) : QDesktopServices::openUrl(url);
}

void SetUrlOpener(std::function<bool(const QUrl&)> opener)
{
    Opener() = std::move(opener);
}
