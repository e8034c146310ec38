#pragma once

#include <QByteArray>
#include <QString>

struct zip;

// Office files are zip archives. This reads parts of an archive held in memory,
// each only up to a limit, so that a small file that unpacks to gigabytes is
// refused instead of filling the memory.
class ZipReader
{
public:
    enum class Result { Ok, Missing, TooLarge, Encrypted, Broken };

    // bytes must outlive the reader.
    explicit ZipReader(const QByteArray& bytes);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // False when the bytes are not a readable zip archive.
    bool IsOpen() const { return m_archive != nullptr; }
    // Unpacks the part (names compared without case) into out; at most maxBytes.
    Result Read(const QString& name, qint64 maxBytes, QByteArray& out) const;

private:
    zip* m_archive = nullptr;
};

// The archive with one part's contents replaced, every other part copied as it
// was. False with the reason when the archive can't be read or written or has
// no such part.
bool ReplaceZipPart(const QByteArray& archive, const QString& name, const QByteArray& contents,
                    QByteArray& result, QString& reason);
