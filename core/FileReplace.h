#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to fileName through a temporary file in the same folder, which
// replaces the target only once every byte has been written; a failed or
// interrupted write leaves the previous file as it was. On failure errorText
// holds the system's reason.
//
// The temporary file is written unbuffered and every write's count is checked:
// a buffered QSaveFile whose final flush comes up short (a full disk) still
// commits the truncated file.
bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes, QString& errorText);
