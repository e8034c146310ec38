#include "ZipArchive.h"

#include <zip.h>

#include <algorithm>

namespace {

// A buffer source over bytes that libzip must neither free nor change.
zip_source_t* BufferSource(const QByteArray& bytes, zip_error_t* error)
{
    return zip_source_buffer_create(bytes.constData(), zip_uint64_t(bytes.size()), 0, error);
}

QString ErrorText(zip_error_t* error)
{
    return QString::fromUtf8(zip_error_strerror(error));
}

} // namespace

ZipReader::ZipReader(const QByteArray& bytes)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = BufferSource(bytes, &error);
    if (source) {
        m_archive = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (!m_archive)
            zip_source_free(source);
    }
    zip_error_fini(&error);
}

ZipReader::~ZipReader()
{
    if (m_archive)
        zip_discard(m_archive);
}

zip_file* ZipReader::OpenFile(const QString& name, qint64 maxBytes, Result& result) const
{
    result = Result::Broken;
    if (!m_archive)
        return nullptr;
    const zip_int64_t index = zip_name_locate(m_archive, name.toUtf8().constData(), ZIP_FL_NOCASE);
    if (index < 0) {
        result = Result::Missing;
        return nullptr;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(m_archive, zip_uint64_t(index), 0, &stat) != 0)
        return nullptr;
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
        result = Result::Encrypted;
        return nullptr;
    }
    // The stated size can lie; reading checks again.
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > zip_uint64_t(maxBytes)) {
        result = Result::TooLarge;
        return nullptr;
    }
    zip_file_t* file = zip_fopen_index(m_archive, zip_uint64_t(index), 0);
    if (file)
        result = Result::Ok;
    return file;
}

ZipReader::Result ZipReader::Read(const QString& name, qint64 maxBytes, QByteArray& out) const
{
    out.clear();
    Result result = Result::Ok;
    std::unique_ptr<ZipPartDevice> device = Open(name, maxBytes, result);
    if (!device)
        return result;
    char chunk[65536];
    for (;;) {
        const qint64 count = device->read(chunk, sizeof chunk);
        if (count <= 0)
            break;
        out.append(chunk, qsizetype(count));
    }
    result = device->Status();
    if (result != Result::Ok)
        out.clear();
    return result;
}

std::unique_ptr<ZipPartDevice> ZipReader::Open(const QString& name, qint64 maxBytes, Result& result) const
{
    zip_file* file = OpenFile(name, maxBytes, result);
    if (!file)
        return nullptr;
    auto device = std::make_unique<ZipPartDevice>(file, maxBytes);
    device->open(QIODevice::ReadOnly);
    return device;
}

ZipPartDevice::ZipPartDevice(zip_file* file, qint64 maxBytes) : m_file(file), m_max(maxBytes) {}

ZipPartDevice::~ZipPartDevice()
{
    zip_fclose(m_file);
}

qint64 ZipPartDevice::readData(char* data, qint64 maxSize)
{
    if (m_status != ZipReader::Result::Ok || maxSize <= 0)
        return m_status == ZipReader::Result::Ok ? 0 : -1;
    // Reading one byte past the limit tells a part that is too large.
    const qint64 want = std::min(maxSize, m_max - m_read + 1);
    const zip_int64_t count = zip_fread(m_file, data, zip_uint64_t(want));
    if (count < 0) {
        m_status = ZipReader::Result::Broken;
        return -1;
    }
    m_read += count;
    if (m_read > m_max) {
        m_status = ZipReader::Result::TooLarge;
        return -1;
    }
    return count == 0 ? -1 : count;
}

bool ReplaceZipPart(const QByteArray& archive, const QString& name, const QByteArray& contents,
                    QByteArray& result, QString& reason)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = BufferSource(archive, &error);
    if (!source) {
        reason = ErrorText(&error);
        zip_error_fini(&error);
        return false;
    }
    bool ok = false;
    zip_t* za = zip_open_from_source(source, 0, &error);
    if (!za) {
        reason = ErrorText(&error);
    } else {
        // The source outlives the archive: after zip_close it holds the new archive.
        zip_source_keep(source);
        const zip_int64_t index = zip_name_locate(za, name.toUtf8().constData(), ZIP_FL_NOCASE);
        zip_source_t* part =
            index < 0 ? nullptr
                      : zip_source_buffer(za, contents.constData(), zip_uint64_t(contents.size()), 0);
        if (index < 0) {
            reason = QStringLiteral("%1 fehlt").arg(name);
        } else if (!part || zip_file_replace(za, zip_uint64_t(index), part, 0) != 0) {
            if (part)
                zip_source_free(part);
            reason = QString::fromUtf8(zip_strerror(za));
        } else if (zip_close(za) != 0) {
            reason = QString::fromUtf8(zip_strerror(za));
        } else {
            za = nullptr;
            ok = true;
        }
        if (za)
            zip_discard(za);
    }
    if (ok) {
        ok = false;
        zip_stat_t stat;
        if (zip_source_stat(source, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) &&
            zip_source_open(source) == 0) {
            result.resize(qsizetype(stat.size));
            ok = zip_source_read(source, result.data(), stat.size) == zip_int64_t(stat.size);
            zip_source_close(source);
        }
        if (!ok)
            reason = ErrorText(zip_source_error(source));
    }
    zip_source_free(source);
    zip_error_fini(&error);
    return ok;
}
