#include "HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

namespace {

QString ReadPage(const QString& file)
{
    QFile page(QStringLiteral(":/manual/") + file);
    return page.open(QIODevice::ReadOnly) ? QString::fromUtf8(page.readAll()) : QString();
}

} // namespace

// The built-in manual: its table of contents, the links between its pages and
// the help window over it.
class TestManual : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentsAreReadFromTheList()
    {
        const QString html = QStringLiteral(
            "<p><a href=\"x.html\">not listed</a></p><ol><li><a href=\"a.html\">Erste  Seite</a></li>\n"
            "<li> <a href=\"b.html\">Zweite</a></li><li><a "
            "href=\"https://example.org/c.html\">Web</a></li></ol>");
        const QList<THelpPage> expected{
            {"index.html", "Inhalt"}, {"a.html", "Erste Seite"}, {"b.html", "Zweite"}};
        QCOMPARE(ManualContents(html), expected);
    }

    void everyPageAndLinkExists()
    {
        const QList<THelpPage> pages = ManualContents();
        QVERIFY(pages.size() >= 10);
        const QStringList files = QDir(QStringLiteral(":/manual")).entryList({QStringLiteral("*.html")});
        // Every page is in the contents, and every page of the contents exists.
        QStringList listed;
        for (const THelpPage& page : pages)
            listed.append(page.file);
        listed.sort();
        QCOMPARE(listed, files);

        static const QRegularExpression link(QStringLiteral("(?:href|src)=\"([^\"]+)\""));
        static const QRegularExpression title(QStringLiteral("<title>([^<]+)</title>"));
        for (const QString& file : files) {
            const QString html = ReadPage(file);
            QVERIFY2(title.match(html).hasMatch(), qPrintable(file));
            for (auto it = link.globalMatch(html); it.hasNext();) {
                const QUrl target(it.next().captured(1));
                if (!target.scheme().isEmpty())
                    continue;
                const QString targetFile = target.path().isEmpty() ? file : target.path();
                const QString targetHtml = ReadPage(targetFile);
                QVERIFY2(!targetHtml.isEmpty(), qPrintable(file + QStringLiteral(" -> ") + targetFile));
                if (target.hasFragment())
                    QVERIFY2(targetHtml.contains(QStringLiteral("id=\"%1\"").arg(target.fragment())),
                             qPrintable(file + QStringLiteral(" -> ") + target.toString()));
            }
        }
    }

    void wiringPictureIsDrawn()
    {
        // The plug's picture is an SVG; without Qt's SVG plugin the page would show a gap.
        const QImage picture(QStringLiteral(":/manual/stecker.svg"));
        QCOMPARE(picture.size(), QSize(560, 300));
    }

    void picturesAreShownAtTheirSize_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("picture");
        QTest::newRow("results list") << "nach-dem-rennen.html"
                                      << "ergebnisliste.png";
        QTest::newRow("certificate") << "nach-dem-rennen.html"
                                     << "urkunde.png";
    }

    void picturesAreShownAtTheirSize()
    {
        QFETCH(QString, page);
        QFETCH(QString, picture);
        // Small enough to ship, and the page reserves exactly the picture's size.
        QFile file(QStringLiteral(":/manual/") + picture);
        QVERIFY(file.size() > 0 && file.size() <= 60 * 1024);
        const QImage image(file.fileName());
        QVERIFY(!image.isNull());
        const QRegularExpression tag(QStringLiteral("<img src=\"%1\" width=\"(\\d+)\" height=\"(\\d+)\"")
                                         .arg(QRegularExpression::escape(picture)));
        const QRegularExpressionMatch match = tag.match(ReadPage(page));
        QVERIFY(match.hasMatch());
        QCOMPARE(QSize(match.captured(1).toInt(), match.captured(2).toInt()), image.size());
    }

    void helpContentsShowWholeTitles()
    {
        THelpWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Every title fits beside the scroll bar, the longest one too.
        const QString folder = qEnvironmentVariable("QUELLORIX_SCREENSHOTS");
        if (!folder.isEmpty())
            window.grab().save(folder + QStringLiteral("/hilfe.png"));
        QVERIFY(window.Contents->viewport()->width() >= window.Contents->sizeHintForColumn(0));
    }

    void helpWindowFollowsTheContentsList()
    {
        THelpWindow window;
        window.ShowPage(ManualContentsUrl());
        QCOMPARE(window.Contents->currentRow(), 0);
        const int last = window.Contents->count() - 1;
        window.Contents->setCurrentRow(last);
        QCOMPARE(window.CurrentPage().fileName(), ManualContents().at(last).file);
        QVERIFY(window.bBack->isEnabled());
        window.bBack->click();
        QCOMPARE(window.CurrentPage(), ManualContentsUrl());
        QCOMPARE(window.Contents->currentRow(), 0);
    }
};

QTEST_MAIN(TestManual)
#include "tst_manual.moc"
