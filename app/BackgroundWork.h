#pragma once

#include <QString>
#include <functional>

class QWidget;

// Runs work on a thread of its own while the window goes on (the clock, the
// light barriers, repainting). Past half a second a progress dialog with the
// text and "Abbrechen" shows; "Abbrechen" calls the read off (ReadCancel.h)
// and the caller keeps everything as it was. Returns false when cancelled, or
// at once when another such work is still running. work must not touch widgets.
bool RunInBackground(QWidget* parent, const QString& text, const std::function<void()>& work);
