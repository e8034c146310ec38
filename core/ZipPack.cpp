#include "ZipPack.h"

#include <zip.h>

bool PackZip(const QList<std::pair<QString, QByteArray>>& parts, QByteArray& archive, QString& reason)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* za = source ? zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
    if (!za) {
        reason = QString::fromUtf8(zip_error_strerror(&error));
        if (source)
            zip_source_free(source);
        zip_error_fini(&error);
        return false;
    }
    // After zip_close the source holds the archive; it must outlive it.
    zip_source_keep(source);
    bool ok = true;
    for (const auto& [name, bytes] : parts) {
        // The bytes stay alive in parts until zip_close has read them.
        zip_source_t* part = zip_source_buffer(za, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index =
            part ? zip_file_add(za, name.toUtf8().constData(), part, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (part)
                zip_source_free(part);
            ok = false;
            break;
        }
        // Office parts are repetitive markup: the fastest level packs them nearly as small.
        zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_DEFLATE, 1);
    }
    if (ok && zip_close(za) == 0) {
        za = nullptr;
    } else {
        reason = QString::fromUtf8(zip_strerror(za));
        zip_discard(za);
        za = nullptr;
        ok = false;
    }
    if (ok) {
        ok = false;
        zip_stat_t stat;
        if (zip_source_stat(source, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) &&
            zip_source_open(source) == 0) {
            archive.resize(qsizetype(stat.size));
            ok = zip_source_read(source, archive.data(), stat.size) == zip_int64_t(stat.size);
            zip_source_close(source);
        }
        if (!ok)
            reason = QString::fromUtf8(zip_error_strerror(zip_source_error(source)));
    }
    zip_source_free(source);
    zip_error_fini(&error);
    return ok;
}
