#include "ActiveWindow.h"
#include "FileTypes.h"
#include "FormMainAccess.h"
#include "HelpWindow.h"
#include "Maker.h"
#include "ProgramFiles.h"
#include "ProgramWindows.h"
#include "StartupTrace.h"
#include "TClickLabel.h"
#include "TFormInfo.h"
#include "TestAccess.h"
#include "TestDialogs.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <memory>

using Reader = QMap<QString, QString>; // key -> default value; "-" marks a key that can't be opened

// Start-up and shut-down of the program: the order of the steps, the names that
// follow the program file, help (F1, Alt+H), the information dialog (F3) and the
// maker's link.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir settingsDir;
    std::unique_ptr<TProgramWindows> windows;
    QList<QUrl> openedUrls;
    std::unique_ptr<TestDialogs> dialogs;

    TFormMain& Main() { return windows->FormMain(); }
    TFormMainControls& Ui() { return TFormMainTestAccess::Controls(Main()); }

    void Start()
    {
        windows.reset();
        ClearTrace();
        TSystemAccess access = TestAccess(settingsDir.filePath(QStringLiteral("settings.ini")));
        access.OpenUrl = [this](const QUrl& url) {
            openedUrls.append(url);
            return true;
        };
        dialogs = std::make_unique<TestDialogs>();
        access.Dialogs = dialogs.get();
        windows = std::make_unique<TProgramWindows>(std::move(access));
        QVERIFY(ShowActive(Main()));
    }

    // Runs the real program under the name programName, from the folder workDir,
    // and returns its trace lines by step.
    QMap<QString, QString> TrialStart(const QString& programPath, const QString& workDir,
                                      const QString& configDir)
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString trace = QDir(workDir).absoluteFilePath(QStringLiteral("trace.txt"));
        env.insert(QStringLiteral("QUELLORIX_STARTUP_PROBE"), trace);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(workDir);
        program.start(programPath, {});
        const bool finished = program.waitForFinished(30000);
        [&] {
            QVERIFY2(finished, "the trial start did not end");
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
        }();
        QFile file(trace);
        QMap<QString, QString> steps;
        if (!file.open(QIODevice::ReadOnly))
            return steps;
        for (const QString& line :
             QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            steps.insert(line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1));
        return steps;
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(settingsDir.filePath(QStringLiteral("settings.ini")));
        openedUrls.clear();
    }

    void cleanup() { windows.reset(); }

    void stepsRunInTheirOrder()
    {
        Start();
        QTRY_VERIFY(TracedStepIds().contains(QStringLiteral("FormCreate.21")));
        windows.reset();
        QStringList expected{QStringLiteral("Program.TFormMain")};
        for (int step = 1; step <= 20; ++step)
            expected.append(QStringLiteral("FormCreate.%1").arg(step));
        expected << QStringLiteral("Program.TCfgDialog") << QStringLiteral("Program.TFDlgYesNo")
                 << QStringLiteral("Program.TFormInfo") << QStringLiteral("FormCreate.21")
                 << QStringLiteral("FormDestroy.1") << QStringLiteral("FormDestroy.2")
                 << QStringLiteral("FormDestroy.3");
        QCOMPARE(TracedStepIds(), expected);
        // The settings were written at shut-down, in the store the window was given.
        QSettings stored(settingsDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("CountBahn")).toInt(), 2);
    }

    void startsReadyWithHelpAndDialogs()
    {
        Start();
        QCOMPARE(Main().windowTitle(), QStringLiteral("Quellorix 2.7"));
        QVERIFY(Ui().bHelp->isEnabled());
        // No warning about a missing help engine, nor any other box, at start-up.
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(Ui().labEditON->text(), QStringLiteral("Änderungen vornehmen"));
        QVERIFY(Ui().CfgDialog);
        QCOMPARE(Ui().FormInfo->windowTitle(), QStringLiteral("Information"));
        QVERIFY(!Ui().sbSave->isEnabled());
        QVERIFY(Ui().mStart->isEnabled());
    }

    // The package puts the template into <prefix>/share/quellorix; one beside the program comes first.
    void wordTemplateBesideTheProgramOrShared()
    {
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/quellorix")));
        const QString program = prefix.filePath(QStringLiteral("bin/Quellorix"));
        const QString shared = prefix.filePath(QStringLiteral("share/quellorix/Protokollvorlage.docx"));
        const QString beside = prefix.filePath(QStringLiteral("bin/Protokollvorlage.docx"));
        QCOMPARE(ProgramFilesOf(program).WordTemplate, beside); // neither there: the program folder
        QFile(shared).open(QIODevice::WriteOnly);
        QCOMPARE(ProgramFilesOf(program).WordTemplate, shared);
        QFile(beside).open(QIODevice::WriteOnly);
        QCOMPARE(ProgramFilesOf(program).WordTemplate, beside);
    }

    void fileTypeDescriptions_data()
    {
        QTest::addColumn<Reader>("registry");
        QTest::addColumn<QStringList>("expected"); // web page, text, Word, Excel, CSV
        QTest::newRow("no registry") << Reader{} << QStringList{"Webseite", "Textdatei", "MS Word", "", ""};
        QTest::newRow("every key") << Reader{{"htmlfile", "HTML-Dokument"},
                                             {"txtfile", "Textdokument"},
                                             {"Word.Document", "Word 97"},
                                             {"Excel.Application", "Excel"},
                                             {"Excel.CSV", "CSV-Datei (MS)"}}
                                   << QStringList{"HTML-Dokument", "Textdokument", "Word 97", "Excel",
                                                  "CSV-Datei (MS)"};
        QTest::newRow("a missing key ends the reading")
            << Reader{{"htmlfile", "HTML"}, {"txtfile", "-"}, {"Word.Document", "Word 97"}}
            << QStringList{"HTML", "Textdatei", "MS Word", "", ""};
        QTest::newRow("a key without default value gives an empty text")
            << Reader{{"htmlfile", ""}, {"txtfile", "Text"}} << QStringList{"", "Text", "MS Word", "", ""};
    }

    void fileTypeDescriptions()
    {
        QFETCH(Reader, registry);
        QFETCH(QStringList, expected);
        const TFileTypeDescriptions d =
            ReadFileTypeDescriptions([&](const QString& key) -> std::optional<QString> {
                if (!registry.contains(key) || registry.value(key) == QLatin1String("-"))
                    return std::nullopt;
                return registry.value(key);
            });
        QCOMPARE((QStringList{d.WebPage, d.Text, d.Word, d.Excel, d.Csv}), expected);
    }

    void fileFilters_data()
    {
        QTest::addColumn<bool>("excel");
        QTest::addColumn<QStringList>("open");
        QTest::addColumn<QStringList>("save");
        QTest::newRow("Excel not available")
            << false << QStringList{"Starterlisten (*.txt *.csv)", "Textdatei (*.txt)", "CSV-Datei (*.csv)"}
            << QStringList{"Textdatei (*.txt)", "CSV-Datei (*.csv)", "MS Word (*.docx)", "Webseite (*.html)"};
        QTest::newRow("Excel available: second, once")
            << true
            << QStringList{"Starterlisten (*.txt *.csv *.xlsx *.xls *.ods)", "Textdatei (*.txt)",
                           "Excel-Arbeitsmappe (*.xlsx *.xls *.ods)", "CSV-Datei (*.csv)"}
            << QStringList{"Textdatei (*.txt)", "Excel-Arbeitsmappe (*.xlsx)", "CSV-Datei (*.csv)",
                           "MS Word (*.docx)", "Webseite (*.html)"};
    }

    void fileFilters()
    {
        QFETCH(bool, excel);
        QFETCH(QStringList, open);
        QFETCH(QStringList, save);
        const TFileFilters filters = BuildFileFilters(TFileTypeDescriptions{}, excel);
        QCOMPARE(filters.Open, open);
        QCOMPARE(filters.Save, save);
    }

    void helpCommandsShowTheContents_data()
    {
        QTest::addColumn<int>("trigger");
        QTest::newRow("F1") << 0;
        QTest::newRow("Alt+H") << 1;
        QTest::newRow("Hilfe button") << 2;
    }

    void helpCommandsShowTheContents()
    {
        QFETCH(int, trigger);
        Start();
        if (trigger == 0)
            QTest::keyClick(&Main(), Qt::Key_F1);
        else if (trigger == 1)
            QTest::keyClick(&Main(), Qt::Key_H, Qt::AltModifier);
        else
            QTest::mouseClick(Ui().bHelp, Qt::LeftButton);
        THelpWindow* help = Main().Help().Window();
        QVERIFY(help);
        QTRY_VERIFY(help->isVisible());
        QCOMPARE(help->CurrentPage(), ManualContentsUrl());
        QCOMPARE(help->Contents->count(), ManualContents().size());
        QCOMPARE(help->Contents->currentRow(), 0);
        QVERIFY(help->Page->toPlainText().contains(QStringLiteral("Inhalt")));

        // A link leads to its page and marks it in the contents list.
        help->Page->setFocus();
        emit help->Page->anchorClicked(QUrl(QStringLiteral("zeitnahme.html#tasten")));
        QCOMPARE(help->CurrentPage().fileName(), QStringLiteral("zeitnahme.html"));
        QCOMPARE(help->Contents->currentItem()->text(), QStringLiteral("Zeitnahme mit Maus und Tasten"));
        QVERIFY(help->Page->toPlainText().contains(QStringLiteral("F12")));
        QVERIFY(openedUrls.isEmpty());
        // A web address goes to the desktop's browser; the page stays.
        emit help->Page->anchorClicked(QUrl(QStringLiteral("https://example.org/")));
        QCOMPARE(openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://example.org/"))});
        QCOMPARE(help->CurrentPage().fileName(), QStringLiteral("zeitnahme.html"));

        help->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(help));
        QTest::keyClick(help->Page, Qt::Key_Escape);
        QTRY_VERIFY(!help->isVisible());
    }

    void helpWindowsCloseWhenTheProgramEnds()
    {
        Start();
        QTest::keyClick(&Main(), Qt::Key_F1);
        const QPointer<THelpWindow> help = Main().Help().Window();
        QTRY_VERIFY(help && help->isVisible());
        // Closing the main window ends the program although the help window is open ...
        QTimer::singleShot(0, &Main(), &QWidget::close);
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        // ... and the main window's end closes the help window.
        windows.reset();
        QVERIFY(help.isNull());
        QVERIFY(TracedStepIds().endsWith(QStringLiteral("FormDestroy.3")));
    }

    void informationDialog_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("F3, Esc") << true << true;
        QTest::newRow("F3, Einverstanden") << true << false;
        QTest::newRow("Info button, Esc") << false << true;
        QTest::newRow("Info button, Einverstanden") << false << false;
    }

    void informationDialog()
    {
        QFETCH(bool, byKey);
        QFETCH(bool, byEscape);
        Start();
        TFormInfo* info = Ui().FormInfo;
        bool shown = false;
        dialogs->modalAnswers.enqueue([&](QDialog& dialog) {
            shown = &dialog == info && info->isVisible();
            if (byEscape)
                QTest::keyClick(info, Qt::Key_Escape);
            else
                QTest::mouseClick(info->cmd_OK, Qt::LeftButton);
        });
        if (byKey)
            QTest::keyClick(&Main(), Qt::Key_F3);
        else
            QTest::mouseClick(Ui().bInfo, Qt::LeftButton);
        QVERIFY(shown);
        QVERIFY(!info->isVisible());
    }

    void informationDialogLayout()
    {
        TFormInfo info;
        QCOMPARE(info.windowTitle(), QStringLiteral("Information"));
        QCOMPARE(info.size(), QSize(292, 331));
        QCOMPARE(info.Image1->size(), QSize(32, 32));
        QCOMPARE(info.lbl_Name->text(), QStringLiteral("Quellorix"));
        QCOMPARE(info.lbl_Name->font().pixelSize(), 29);
        QVERIFY(info.lbl_Name->font().underline());
        QCOMPARE(info.lbl_Name->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        QCOMPARE(info.lbl_Version->text(), QStringLiteral("Version 2.7  ( 24.03.2007 )"));
        QCOMPARE(info.lbl_Version->font().pixelSize(), 13);
        QVERIFY(info.lbl_Version->font().bold());
        QCOMPARE(info.cmd_OK->text(), QStringLiteral("Einverstanden"));
        QCOMPARE(info.cmd_OK->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
        QVERIFY(info.cmd_OK->font().bold());
        QVERIFY(!info.cmd_OK->icon().isNull());
        QCOMPARE(info.lbl_Maker->text(), QStringLiteral("Tarnvik Software"));
        const Qt::WindowFlags flags = info.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    }

    void logoOpensTheMakersWebSite()
    {
        Start();
        for (TClickLabel* label : {Ui().Label8, Ui().Label9, Ui().Label10})
            QTest::mouseClick(label, Qt::LeftButton);
        const QUrl address(QString::fromUtf8(Maker::WebAddress));
        QCOMPARE(openedUrls, (QList<QUrl>{address, address, address}));
        QCOMPARE(Ui().Label8->text() + Ui().Label9->text() + Ui().Label10->text(), QStringLiteral("Tarnvik"));
    }

    void trialStartUnderAnotherName_data()
    {
        QTest::addColumn<bool>("fromProgramFolder");
        QTest::newRow("another program name") << true;
        QTest::newRow("another working folder") << false;
    }

    void trialStartUnderAnotherName()
    {
        QFETCH(bool, fromProgramFolder);
        QTemporaryDir programDir;
        QTemporaryDir otherDir;
        QTemporaryDir configDir;
        const QString program = programDir.filePath(QStringLiteral("Renner"));
        QVERIFY(QFile::copy(QStringLiteral(QUELLORIX_EXE), program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
        for (const QString& name : {QStringLiteral("Start.wav"), QStringLiteral("Renner.chm")}) {
            QFile file(programDir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString workDir = fromProgramFolder ? programDir.path() : otherDir.path();
        const QString folder = QFileInfo(program).absolutePath();

        const QMap<QString, QString> steps = TrialStart(program, workDir, configDir.path());
        QCOMPARE(steps.value(QStringLiteral("FormCreate.2")), QStringLiteral("Tarnvik/Renner"));
        QCOMPARE(steps.value(QStringLiteral("FormCreate.3")),
                 folder + QStringLiteral("/Protokollvorlage.docx"));
        QCOMPARE(steps.value(QStringLiteral("FormCreate.10")),
                 fromProgramFolder ? QStringLiteral("Töne an") : QStringLiteral("Töne aus"));
        // Help is found from any working folder (here: the built-in manual; the
        // compiled help file is shown only where the system has a viewer for it).
        QCOMPARE(steps.value(QStringLiteral("FormCreate.12")),
                 folder + QStringLiteral("/Renner.chm (Handbuch im Programm)"));
        // The protocol is proposed under the program's name in the user's documents.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(steps.value(QStringLiteral("FormCreate.14")),
                 (QFileInfo(documents).isDir() ? documents : QDir::homePath()) +
                     QStringLiteral("/Renner.txt Webseite Renner.html"));
        QVERIFY(steps.contains(QStringLiteral("FormDestroy.3")));
        // The settings went to the key of the new name.
        QVERIFY(QFileInfo::exists(configDir.filePath(QStringLiteral("Tarnvik/Renner.conf"))));
        QVERIFY(!QFileInfo::exists(configDir.filePath(QStringLiteral("Tarnvik/Quellorix.conf"))));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
