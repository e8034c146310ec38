#include "FileReplace.h"

#include <QSaveFile>

bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes, QString& errorText)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        errorText = file.errorString();
        return false;
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            errorText = file.errorString();
            file.cancelWriting();
            return false;
        }
        written += count;
    }
    if (!file.commit()) {
        errorText = file.errorString();
        return false;
    }
    return true;
}
