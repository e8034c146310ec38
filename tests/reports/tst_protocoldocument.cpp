#include "ProtocolDocument.h"
#include "ZipArchive.h"
#include "ZipMaker.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

// The protocol as a Word document built from a template.
class TestProtocolDocument : public QObject
{
    Q_OBJECT

private:
    static QByteArray ReadFile(const QString& name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QByteArray Part(const QByteArray& zip, const QString& name)
    {
        QByteArray bytes;
        ZipReader(zip).Read(name, 1 << 24, bytes);
        return bytes;
    }

    static QStringList PartNames(const QByteArray& zipBytes)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source =
            zip_source_buffer_create(zipBytes.constData(), zip_uint64_t(zipBytes.size()), 0, &error);
        zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
        QStringList names;
        for (zip_int64_t i = 0; archive && i < zip_get_num_entries(archive, 0); ++i)
            names.append(QString::fromUtf8(zip_get_name(archive, zip_uint64_t(i), 0)));
        if (archive)
            zip_discard(archive);
        else
            zip_source_free(source);
        zip_error_fini(&error);
        return names;
    }

    static QByteArray Document(const QByteArray& body)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<w:document "
               "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
               body + "<w:sectPr/></w:body></w:document>";
    }

    // What the document's body holds: its children's names, and the table's
    // rows with their cell texts.
    struct Body
    {
        QStringList children;
        QList<QStringList> rows;
        int gridColumns = 0;
        int tables = 0;
        bool everyCellEndsWithAParagraph = true;
        QString error;
    };

    static Body ReadBody(const QByteArray& documentXml)
    {
        Body body;
        QXmlStreamReader xml(documentXml);
        int depth = 0;
        int bodyDepth = -1;
        QString lastInCell;
        int cellDepth = 0;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                ++depth;
                const QString name = xml.name().toString();
                if (name == u"body")
                    bodyDepth = depth;
                else if (depth == bodyDepth + 1)
                    body.children.append(name);
                if (name == u"tbl")
                    ++body.tables;
                else if (name == u"gridCol")
                    ++body.gridColumns;
                else if (name == u"tr")
                    body.rows.append(QStringList());
                else if (name == u"tc" && !body.rows.isEmpty())
                    body.rows.last().append(QString());
                if (name == u"tc")
                    ++cellDepth;
                if (name == u"t") {
                    const QString text = xml.readElementText();
                    if (cellDepth > 0 && !body.rows.isEmpty() && !body.rows.last().isEmpty())
                        body.rows.last().last() += text;
                    --depth;
                } else if (name == u"p" || name == u"tbl") {
                    lastInCell = name;
                }
            } else if (token == QXmlStreamReader::EndElement) {
                if (xml.name() == u"tc" && lastInCell != u"p")
                    body.everyCellEndsWithAParagraph = false;
                if (xml.name() == u"tc")
                    --cellDepth;
                if (xml.name() == u"p" || xml.name() == u"tbl")
                    lastInCell = xml.name().toString();
                --depth;
            }
        }
        body.error = xml.errorString();
        return body;
    }

    static ProtocolTable Protocol(int starters)
    {
        ProtocolTable block = {{"Nr.", "Name", "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2", "Lauf3",
                                "Lauf4", "Lauf5", "Lauf6", "Gesamt", "Platz"}};
        for (int i = 1; i <= starters; ++i)
            block.append({QString::number(i), "Müller & Söhne", "Jörg", "<SC Nord; Süd>", "A", "31,25", "EL",
                          "", "", "", "", "31,25", "1"});
        return block;
    }

private Q_SLOTS:
    void shippedTemplateGivesOneTableInPlaceOfThePlaceholder()
    {
        const QByteArray templateBytes = ReadFile(QStringLiteral(QX_WORD_TEMPLATE));
        QVERIFY(!templateBytes.isEmpty());
        const ProtocolTable block = Protocol(3);
        QByteArray bytes;
        QString reason;
        QVERIFY2(ProtocolDocumentBytes(templateBytes, block, bytes, reason), qPrintable(reason));

        const QByteArray documentXml = Part(bytes, QStringLiteral("word/document.xml"));
        const Body body = ReadBody(documentXml);
        QCOMPARE(body.error, QString());
        QCOMPARE(body.tables, 1);
        QCOMPARE(body.gridColumns, 13);
        QCOMPARE(body.rows, QList<QStringList>(block));
        QVERIFY(body.everyCellEndsWithAParagraph);
        // Heading, table where "[Protokoll]" was, the empty paragraph, the page set-up last.
        QCOMPARE(body.children, QStringList({"p", "tbl", "p", "sectPr"}));
        QVERIFY(documentXml.contains("Zeitenprotokoll"));
        QVERIFY(!documentXml.contains("[Protokoll]"));
        QVERIFY(documentXml.contains("w:orient=\"landscape\""));

        // Every other part is the template's, byte for byte.
        const QStringList names = PartNames(templateBytes);
        QCOMPARE(PartNames(bytes), names);
        QCOMPARE(names.size(), 6);
        for (const QString& name : names) {
            if (name != u"word/document.xml")
                QCOMPARE(Part(bytes, name), Part(templateBytes, name));
        }
    }

    // Times, numbers and places as wide as their longest text at the
    // template's 9 pt (an Arial digit is 100 twips, a cell's margins 140), never
    // wrapped; the names share the rest; the whole table fits the landscape page.
    void figureColumnsNeverWrapAndTheTableFits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("short names") << "Li";
        QTest::newRow("long names") << QString(60, u'W');
    }

    void figureColumnsNeverWrapAndTheTableFits()
    {
        QFETCH(QString, name);
        ProtocolTable block = Protocol(3);
        block[2][1] = name;
        block[3][11] = QStringLiteral("1234,56");
        QByteArray bytes;
        QString reason;
        QVERIFY(ProtocolDocumentBytes(ReadFile(QStringLiteral(QX_WORD_TEMPLATE)), block, bytes, reason));
        const QString xml = QString::fromUtf8(Part(bytes, QStringLiteral("word/document.xml")));
        QList<int> widths;
        QRegularExpressionMatchIterator it =
            QRegularExpression(QStringLiteral("<w:gridCol w:w=\"(\\d+)\"/>")).globalMatch(xml);
        while (it.hasNext())
            widths.append(it.next().captured(1).toInt());
        QCOMPARE(widths.size(), 13);
        int total = 0;
        for (int w : widths)
            total += w;
        QVERIFY2(total <= 14570, qPrintable(QString::number(total)));
        const auto needs = [](int characters) { return characters * 100 + 140; };
        QVERIFY(widths[0] >= needs(3));   // "Nr."
        QVERIFY(widths[5] >= needs(5));   // "31,25", "Lauf1"
        QVERIFY(widths[11] >= needs(7));  // "1234,56"
        QVERIFY(widths[12] >= needs(5));  // "Platz"
        QVERIFY(widths[1] >= needs(4));   // the name column keeps some room
        QVERIFY(xml.contains("<w:tblLayout w:type=\"fixed\"/>"));
        // Figure and short cells carry noWrap; name and club cells don't.
        QCOMPARE(xml.count(QStringLiteral("<w:noWrap/>")), 4 * 11);
    }

    void tablePlacement_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("children");
        QTest::addColumn<QString>("title"); // the event's name, before the table
        QTest::newRow("no placeholder: first in the body")
            << QByteArray("<w:p><w:r><w:t>Titel</w:t></w:r></w:p>") << QStringList{"tbl", "p", "sectPr"} << QString();
        QTest::newRow("placeholder split into runs, with blanks")
            << QByteArray(
                   "<w:p/><w:p><w:r><w:t xml:space=\"preserve\"> [Proto</w:t></w:r><w:r><w:t>koll]</w:t>"
                   "</w:r></w:p><w:p/>")
            << QStringList{"p", "tbl", "p", "sectPr"} << QString();
        QTest::newRow("placeholder with other text is kept")
            << QByteArray("<w:p><w:r><w:t>[Protokoll] folgt</w:t></w:r></w:p>")
            << QStringList{"tbl", "p", "sectPr"} << QString();
        QTest::newRow("placeholder inside a table is not used")
            << QByteArray(
                   "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>[Protokoll]</w:t></w:r></w:p></w:tc></w:tr></w:tbl>")
            << QStringList{"tbl", "tbl", "sectPr"} << QString();
        QTest::newRow("only the first placeholder")
            << QByteArray(
                   "<w:p><w:r><w:t>[Protokoll]</w:t></w:r></w:p><w:p><w:r><w:t>[Protokoll]</w:t></w:r></w:p>")
            << QStringList{"tbl", "p", "sectPr"} << QString();
        QTest::newRow("the event's name heads the table at the placeholder")
            << QByteArray("<w:p/><w:p><w:r><w:t>[Protokoll]</w:t></w:r></w:p>")
            << QStringList{"p", "p", "tbl", "sectPr"} << QStringLiteral("Rennen <A & B>");
    }

    void tablePlacement()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, children);
        QFETCH(QString, title);
        QByteArray result;
        QString reason;
        QVERIFY2(InsertProtocolTable(Document(body), Protocol(1), result, reason, 0, title), qPrintable(reason));
        if (!title.isEmpty())
            QVERIFY(result.contains("<w:b/><w:sz w:val=\"33\"/></w:rPr><w:t xml:space=\"preserve\">Rennen &lt;A &amp; B&gt;</w:t>"));
        const Body read = ReadBody(result);
        QCOMPARE(read.error, QString());
        QCOMPARE(read.children, children);
        // The rest of the document is kept as it was.
        QVERIFY(result.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<w:document "));
    }

    void cellTextsAreEscaped()
    {
        const ProtocolTable block = {{"A & B <C>", QStringLiteral("Tab\there\x01"), "Dvořák"}};
        QByteArray result;
        QString reason;
        QVERIFY(InsertProtocolTable(Document({}), block, result, reason));
        const Body body = ReadBody(result);
        QCOMPARE(body.error, QString());
        QCOMPARE(body.rows, QList<QStringList>({{"A & B <C>", "Tab here", "Dvořák"}}));
    }

    void failuresAreReportedAndNothingIsWritten_data()
    {
        QTest::addColumn<QByteArray>("templateBytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no template") << QByteArray() << "kann nicht gelesen werden";
        QTest::newRow("not a docx") << QByteArray("{\\rtf1 alt}") << "keine .docx-Datei";
        QTest::newRow("docx without its document")
            << MakeZip({{QStringLiteral("word/styles.xml"), "<w:styles/>"}}) << "word/document.xml fehlt";
        QTest::newRow("broken document")
            << MakeZip({{QStringLiteral("word/document.xml"), "<w:document><w:body></w:document>"}})
            << "word/document.xml ist fehlerhaft";
        QTest::newRow("document without a body")
            << MakeZip({{QStringLiteral("word/document.xml"),
                         "<w:document "
                         "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"/>"}})
            << "word/document.xml hat keinen Textkörper";
    }

    void failuresAreReportedAndNothingIsWritten()
    {
        QTemporaryDir dir;
        const QString templatePath = dir.filePath(QStringLiteral("Protokollvorlage.docx"));
        QFETCH(QByteArray, templateBytes);
        QFETCH(QString, reason);
        if (!templateBytes.isEmpty()) {
            QFile file(templatePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(templateBytes);
        }
        const QString target = dir.filePath(QStringLiteral("Ergebnis.docx"));
        QString error;
        QVERIFY(!SaveProtocolDocument(templatePath, target, Protocol(1), error));
        QVERIFY2(error.startsWith("Das Dokument " + target + " konnte nicht erstellt werden: "),
                 qPrintable(error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY(!QFile::exists(target));
    }

    void templateIsOnlyRead()
    {
        QTemporaryDir dir;
        const QString templatePath = dir.filePath(QStringLiteral("Protokollvorlage.docx"));
        QVERIFY(QFile::copy(QStringLiteral(QX_WORD_TEMPLATE), templatePath));
        const QByteArray before =
            QCryptographicHash::hash(ReadFile(templatePath), QCryptographicHash::Sha256);
        const QString target = dir.filePath(QStringLiteral("Ergebnis.docx"));
        QString error;
        QVERIFY2(SaveProtocolDocument(templatePath, target, Protocol(200), error), qPrintable(error));
        QCOMPARE(QCryptographicHash::hash(ReadFile(templatePath), QCryptographicHash::Sha256), before);
        QCOMPARE(ReadBody(Part(ReadFile(target), QStringLiteral("word/document.xml"))).rows.size(), 201);

        // A folder that doesn't exist: reported with the file's name.
        const QString missing = dir.filePath(QStringLiteral("fehlt/Ergebnis.docx"));
        QVERIFY(!SaveProtocolDocument(templatePath, missing, Protocol(1), error));
        QVERIFY2(error.startsWith("Das Dokument " + missing + " konnte nicht erstellt werden: "),
                 qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestProtocolDocument)
#include "tst_protocoldocument.moc"
