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

// True while such work runs: a command that shares state with it (the
// printer) must not start meanwhile. The window takes events until the
// progress dialog shows.
bool BackgroundWorkRunning();

// Tests make the work take as long as they need without guessing times: the
// hook runs on the worker thread before each work (nullptr: none).
void SetBackgroundWorkHook(std::function<void()> hook);
