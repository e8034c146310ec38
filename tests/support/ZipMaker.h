#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>
#include <zip.h>

// Packs parts into zip archive bytes, for hand-made office files in tests.
// encrypt: every part encrypted with AES and the password "geheim".
inline QByteArray MakeZip(const QList<std::pair<QString, QByteArray>>& parts, bool encrypt = false)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(source);
    zip_t* archive = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* part = zip_source_buffer(archive, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index = zip_file_add(archive, name.toUtf8().constData(), part, ZIP_FL_ENC_UTF_8);
        if (encrypt)
            zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_AES_256, "geheim");
    }
    QByteArray result;
    if (zip_close(archive) == 0) {
        zip_stat_t stat;
        zip_source_stat(source, &stat);
        zip_source_open(source);
        result.resize(qsizetype(stat.size));
        zip_source_read(source, result.data(), stat.size);
        zip_source_close(source);
    } else {
        zip_discard(archive);
    }
    zip_source_free(source);
    zip_error_fini(&error);
    return result;
}
