#include "FileReplace.h"
#include "FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFileReplace : public QObject
{
    Q_OBJECT

private:
    static QByteArray Read(const QString& fileName)
    {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs the replacement under a file size limit, which fails writes the way a
    // full disk does.
    static bool ReplaceUnderSizeLimit(const QString& fileName, const QByteArray& bytes, rlim_t limit,
                                      QString& error)
    {
        bool ok = false;
        if (!UnderFileSizeLimit(limit, [&] { ok = ReplaceFileContents(fileName, bytes, error); }))
            error = QStringLiteral("no file size limit");
        return ok;
    }

private Q_SLOTS:
    void replacesOrKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fits");
        QTest::newRow("fits under the limit") << 1000 << true;
        // Smaller than Qt's write buffer: the failure only shows at the final flush.
        QTest::newRow("short write inside the buffer") << 10000 << false;
        QTest::newRow("short write beyond the buffer") << 100000 << false;
    }

    void replacesOrKeepsTheOldFile()
    {
        QFETCH(int, size);
        QFETCH(bool, fits);
        QTemporaryDir dir;
        const QString fileName = dir.filePath(QStringLiteral("protokoll.txt"));
        {
            QFile old(fileName);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old contents");
        }
        const QByteArray bytes(size, 'x');
        QString error;
        QCOMPARE(ReplaceUnderSizeLimit(fileName, bytes, 4096, error), fits);
        QCOMPARE(Read(fileName), fits ? bytes : QByteArray("old contents"));
        QCOMPARE(error.isEmpty(), fits);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("protokoll.txt")});
    }

    void missingFolderFails()
    {
        QTemporaryDir dir;
        QString error;
        QVERIFY(!ReplaceFileContents(dir.filePath(QStringLiteral("no/such/folder/file.txt")), "x", error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_MAIN(TestFileReplace)
#include "tst_filereplace.moc"
