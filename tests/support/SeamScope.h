#pragma once

// A stand-in installed below the window, where there is no TSystemAccess to
// hand it to (a widget or a serial device tested on its own), for a scope.
template <typename Seam, void (*Install)(Seam*)>
class SeamScope
{
public:
    explicit SeamScope(Seam& seam) { Install(&seam); }
    ~SeamScope() { Install(nullptr); }
    SeamScope(const SeamScope&) = delete;
    SeamScope& operator=(const SeamScope&) = delete;
};
