#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <memory>

struct zip;
struct zip_file;
class ZipPartDevice;

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
    // The part as a device that unpacks it while it is read, at most maxBytes;
    // nothing when it can't be opened (result says why). The device must not
    // outlive the reader.
    std::unique_ptr<ZipPartDevice> Open(const QString& name, qint64 maxBytes, Result& result) const;

private:
    zip_file* OpenFile(const QString& name, qint64 maxBytes, Result& result) const;

    zip* m_archive = nullptr;
};

// A part being unpacked as it is read, so a large part is never held whole.
// Reading fails past the limit; Status then says TooLarge (or Broken).
class ZipPartDevice : public QIODevice
{
public:
    ZipPartDevice(zip_file* file, qint64 maxBytes);
    ~ZipPartDevice() override;
    bool isSequential() const override { return true; }
    ZipReader::Result Status() const { return m_status; }
    qint64 Unpacked() const { return m_read; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    zip_file* m_file;
    qint64 m_max;
    qint64 m_read = 0;
    ZipReader::Result m_status = ZipReader::Result::Ok;
};

// The archive with one part's contents replaced, every other part copied as it
// was. False with the reason when the archive can't be read or written or has
// no such part.
bool ReplaceZipPart(const QByteArray& archive, const QString& name, const QByteArray& contents,
                    QByteArray& result, QString& reason);
