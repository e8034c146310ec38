#include "FakeTickSource.h"
#include "FreePort.h"
#include "LiveClient.h"
#include "LiveServer.h"
#include "LoopbackWebDav.h"
#include "ProtocolLogic.h"
#include "TCfgDialog.h"
#include "TDigit.h"
#include "WindowHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

// The spectators' side of the main window: live results on the network and
// the scoreboard, as the operator times a run.
class TestFormMainLive : public QObject, private WindowHarness
{
    Q_OBJECT

private:
    static quint16 FreePort() { return FreeServerPort(); }

    QJsonObject LastEvent(const StreamReader& reader) const
    {
        return reader.events.isEmpty() ? QJsonObject()
                                       : QJsonDocument::fromJson(reader.events.last()).object();
    }

    // Tooltips hold what a label had to shorten.
    QStringList ScoreboardTexts(bool withToolTips = true) const
    {
        QStringList texts;
        for (const QLabel* label : window->Scoreboard->findChildren<QLabel*>()) {
            texts << label->text();
            if (withToolTips)
                texts << label->toolTip();
        }
        return texts;
    }

    // The status bar's field for the uploads to the web host: its text and tooltip.
    std::pair<QString, QString> OnlineState() const
    {
        for (const QLabel* label : window->statusBar()->findChildren<QLabel*>()) {
            if (label->text().startsWith(u"Online: "))
                return {label->text(), label->toolTip()};
        }
        return {};
    }

    // A key as the window system hands it over: stamped with the moment it was pressed
    // (0: the platform gives no stamp), through the window's shortcuts.
    void PressKey(Qt::Key key, quint64 stamp)
    {
        QVERIFY(qt_sendShortcutOverrideEvent(window.get(), stamp, key, Qt::NoModifier));
    }

    static QString Lane(const QJsonObject& results, int lane, const char* key)
    {
        return results.value("bahnen").toArray().at(lane - 1).toObject().value(key).toString();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        clock = std::make_unique<FakeTickSource>(1000);
        passwords = std::make_shared<TestPasswords>(); // no keyring state from the test before
        CreateWindow();
        window->Settings.ProbeLaufe = 0; // every run counts
        window->ApplySettings();
        WriteFile("list.txt",
                  "7\tMuster\tMax\tSC Nord\tA\r\n8\tKurz\tKarl\tTV\tA\r\n9\tLang\tLena\tTV\tB\r\n");
        QVERIFY(window->LoadStarterList(Path("list.txt")));
    }

    void cleanup()
    {
        DestroyWindow();
        clock.reset();
    }

    void aStopReachesTheStreamAndTheScoreboard()
    {
        window->Settings.LivePort = FreePort();
        window->Settings.Veranstaltung = QStringLiteral("Kirchbergrennen");
        window->ApplyLiveSettings();
        QVERIFY(window->LiveServer());
        QVERIFY(window->LiveAddress->isVisible());
        QVERIFY(window->LiveAddress->text().startsWith(QStringLiteral("Live: http://")));
        StreamReader reader(window->LiveServer()->Port());
        QTRY_COMPARE(window->LiveServer()->StreamClients(), 1);

        // Opened before anybody has a place, it shows who starts next, not an empty board.
        window->mTafel->trigger();
        QVERIFY(window->Scoreboard->isVisible());
        QVERIFY(!window->Scoreboard->ShowingStandings());
        QVERIFY2(ScoreboardTexts().contains(QStringLiteral("8 Kurz Karl")) &&
                     ScoreboardTexts().contains(QStringLiteral("TV")),
                 qPrintable(ScoreboardTexts().join(" | ")));
        window->mTafel->trigger();
        QVERIFY(!window->Scoreboard->isVisible());

        window->TriggerCommand(window->mStart);
        clock->Set(1000 + 12340);
        // Opened while the run is timed, it shows the lanes at once.
        window->mTafel->trigger();
        QVERIFY(window->Scoreboard->isVisible());
        QVERIFY2(ScoreboardTexts().contains(QStringLiteral("7 Muster Max")) &&
                     ScoreboardTexts().contains(QStringLiteral("SC Nord")),
                 qPrintable(ScoreboardTexts().join(" | ")));
        QTRY_COMPARE(Lane(LastEvent(reader), 1, "zustand"), QStringLiteral("läuft"));
        // A running lane carries its time, so that the phones count on from there, and how
        // long the results were under way in the server.
        const auto running = [&] { return LastEvent(reader).value("bahnen").toArray().at(0).toObject(); };
        QTRY_COMPARE(running().value("laeuftMs").toInteger(-1), 12340);
        QVERIFY(LastEvent(reader).value("alterMs").toInteger(-1) >= 0);
        clock->Set(1000 + 31250);
        window->TriggerCommand(window->mSTOP1);
        clock->Set(1000 + 33000);
        window->TriggerCommand(window->mStop2);

        QTRY_COMPARE(Lane(LastEvent(reader), 2, "zeit"), QStringLiteral("33,00"));
        QTRY_COMPARE(Lane(LastEvent(reader), 2, "platz"), QStringLiteral("2"));
        const QJsonObject results = LastEvent(reader);
        QCOMPARE(results.value("veranstaltung").toString(), QStringLiteral("Kirchbergrennen"));
        QCOMPARE(Lane(results, 1, "zustand"), QStringLiteral("gestoppt"));
        QCOMPARE(Lane(results, 1, "zeit"), QStringLiteral("31,25"));
        QCOMPARE(Lane(results, 1, "klasse"), QStringLiteral("A"));
        // Once ranked, each lane card has the place and the gap to the class's winner.
        QCOMPARE(Lane(results, 1, "platz"), QStringLiteral("1"));
        QCOMPARE(Lane(results, 1, "abstand"), QString());
        QCOMPARE(Lane(results, 2, "platz"), QStringLiteral("2"));
        QCOMPARE(Lane(results, 2, "abstand"), QStringLiteral("+1,75"));
        const QJsonArray first = results.value("zeilen").toArray().at(0).toArray();
        QCOMPARE(first.size(), ColPlatz + 1);
        QCOMPARE(first.at(ColName).toString(), QStringLiteral("Muster"));
        QCOMPARE(first.at(ColLauf1).toString(), QStringLiteral("31,25"));

        // The scoreboard holds both results until the reset, then the standings.
        QVERIFY(!window->Scoreboard->ShowingStandings());
        const QStringList texts = ScoreboardTexts(false);
        QVERIFY2(texts.filter(QStringLiteral("Platz 1")).size() == 1, qPrintable(texts.join(" | ")));
        QVERIFY(texts.contains(QStringLiteral("Platz 2  ·  +1,75  ·  1 Lauf")));
        window->TriggerCommand(window->mReset);
        QTRY_VERIFY(window->Scoreboard->ShowingStandings());
        QCOMPARE(window->Scoreboard->StandingsLines().value(1), QStringLiteral("1.  7 Max Muster  31,25"));
    }

    void doubtfulTimeIsShownUnconfirmedUntilConfirmed()
    {
        window->Settings.Mindestzeit = 1000; // 10 s
        window->ApplySettings();
        window->Settings.LivePort = FreePort();
        window->ApplyLiveSettings();
        StreamReader reader(window->LiveServer()->Port());
        window->mTafel->trigger();
        window->TriggerCommand(window->mStart);
        clock->Set(1000 + 120); // a bouncing contact
        window->TriggerCommand(window->mSTOP1);
        QTRY_VERIFY(
            LastEvent(reader).value("bahnen").toArray().at(0).toObject().value("unbestaetigt").toBool());
        QCOMPARE(LastEvent(reader).value("unbestaetigt").toArray(), QJsonArray{0});
        QVERIFY2(!ScoreboardTexts().filter(QStringLiteral("unbestätigt")).isEmpty(),
                 qPrintable(ScoreboardTexts().join(" | ")));

        dialogs->answers.enqueue(true);
        window->mConfirmTime->trigger();
        QTRY_VERIFY(LastEvent(reader).value("unbestaetigt").toArray().isEmpty());
    }

    void portInUseIsToldAndTimingGoesOn()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, 0));
        window->Settings.LivePort = other.serverPort();
        window->ApplyLiveSettings();
        QVERIFY(!window->LiveServer());
        QVERIFY(!window->LiveAddress->isVisible());
        QVERIFY2(window->statusBar()->currentMessage().contains(QStringLiteral("lässt sich nicht öffnen")),
                 qPrintable(window->statusBar()->currentMessage()));
        window->TriggerCommand(window->mStart);
        clock->Set(1000 + 30000);
        window->TriggerCommand(window->mSTOP1);
        QCOMPARE(window->SortGrid1->Cells(ColLauf1, 1), QStringLiteral("30,00"));
    }

    void connectionCheckSaysWhatWentWrong_data()
    {
        QTest::addColumn<QString>("folder"); // on the loopback WebDAV server; a full text: as typed
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("login right") << "locked"
                                     << "richtig"
                                     << "Verbindung in Ordnung: „verbindungstest.txt“ wurde nach";
        QTest::newRow("login wrong") << "locked"
                                     << "falsch"
                                     << "Anmeldung bei 127.0.0.1 abgelehnt";
        QTest::newRow("no write permission") << "ro"
                                             << "richtig"
                                             << "Keine Schreibrechte im Ordner auf 127.0.0.1";
        QTest::newRow("not a folder on a web host") << "www.example.de/live"
                                                    << ""
                                                    << "„www.example.de/live“ ist kein Ordner";
    }

    // A desktop without a keyring: the host refuses the login for want of a password
    // and says so; the password typed then is told not kept, and works for the session.
    void passwordWithoutAKeyringIsToldAndUsed()
    {
        LoopbackWebDav webdav;
        if (!webdav.Prepare())
            QSKIP("nginx is not installed");
        QVERIFY(webdav.Start());
        passwords->refuseWith = QStringLiteral("kein Schlüsselbund erreichbar");
        const auto configure = [&](const QString& password) {
            dialogs->answers.enqueue(true); // a login over http:// is warned about
            dialogs->modalAnswers.enqueue([&, password](QDialog&) {
                TCfgDialog* settings = window->CfgDialog;
                settings->edOnlineZiel->setText(webdav.Folder(QStringLiteral("locked")).toString());
                settings->edOnlineBenutzer->setText(QStringLiteral("verein"));
                settings->edOnlinePasswort->setText(password);
                settings->OKBtn->click();
            });
            window->bCFGClick();
        };
        configure(QString());
        QTRY_VERIFY_WITH_TIMEOUT(OnlineState().first.startsWith(u"Online: Anmeldung abgelehnt seit "), 10000);
        QVERIFY2(OnlineState().second.contains(u"lieferte kein Passwort für verein@127.0.0.1"),
                 qPrintable(OnlineState().second));
        QVERIFY(dialogs->messages.isEmpty());

        configure(QStringLiteral("richtig"));
        QTRY_COMPARE(dialogs->messages.size(), 1);
        QVERIFY2(
            dialogs->messages.constFirst().contains(u"konnte nicht im Schlüsselbund des Desktops gespeichert "
                                                    u"werden (kein Schlüsselbund erreichbar)"),
            qPrintable(dialogs->messages.constFirst()));
        QTRY_VERIFY_WITH_TIMEOUT(OnlineState().first.startsWith(u"Online: aktuell"), 10000);
        QVERIFY(webdav.Read(QStringLiteral("locked"), QStringLiteral("ergebnisse.json")).contains("Muster"));
    }

    // The settings' OK replaces the uploader while its thread waits for a keyring that
    // doesn't answer: the window goes on at once, the old thread ends when it can.
    void settingsDoNotWaitForASilentKeyring()
    {
        LoopbackWebDav webdav;
        if (!webdav.Prepare())
            QSKIP("nginx is not installed");
        QVERIFY(webdav.Start());
        QTRY_COMPARE(OnlinePublisher::RunningThreads(), 0);
        passwords->WriteLater(QStringLiteral("verein@127.0.0.1"), QStringLiteral("richtig"), {});
        passwords->ignoreCancel = true; // as a keyring job, which nothing cuts short
        passwords->Hold();
        const auto configure = [&](const QString& user) {
            dialogs->answers.enqueue(true); // a login over http:// is warned about
            dialogs->modalAnswers.enqueue([&, user](QDialog&) {
                TCfgDialog* settings = window->CfgDialog;
                settings->edOnlineZiel->setText(webdav.Folder(QStringLiteral("locked")).toString());
                settings->edOnlineBenutzer->setText(user);
                settings->OKBtn->click();
            });
            window->bCFGClick();
            QVERIFY(dialogs->modalAnswers.isEmpty());
        };
        configure(QStringLiteral("verein"));
        QTRY_COMPARE(passwords->Waiting(), 1);
        configure(QStringLiteral("Verein"));
        // Back from OK while the first uploader's thread still waits.
        QCOMPARE(OnlinePublisher::RunningThreads(), 2);
        passwords->Release();
        QTRY_COMPARE(OnlinePublisher::RunningThreads(), 1);
    }

    void keysTakeTheMomentTheyWerePressed_data()
    {
        // F5, F8 and F9 pressed at 0, 3,01 s and 4,03 s; the window handles them at the ticks given.
        QTest::addColumn<bool>("stamped");
        QTest::addColumn<int>("handledF8");
        QTest::addColumn<int>("handledF9");
        QTest::addColumn<QString>("time1");
        QTest::addColumn<QString>("time2");
        QTest::newRow("handled at once") << true << 3010 << 4030 << "3,01"
                                         << "4,03";
        QTest::newRow("window stuck until 4,5 s") << true << 4500 << 4500 << "3,01"
                                                  << "4,03";
        QTest::newRow("platform without stamps") << false << 4500 << 4500 << "4,50"
                                                 << "4,50";
    }

    void keysTakeTheMomentTheyWerePressed()
    {
        QFETCH(bool, stamped);
        QFETCH(int, handledF8);
        QFETCH(int, handledF9);
        QFETCH(QString, time1);
        QFETCH(QString, time2);
        // The window system's clock runs with an offset of its own.
        const quint64 pressed = stamped ? 7654321 : 0;
        const auto stamp = [&](int ms) { return stamped ? pressed + quint64(ms) : quint64(0); };
        PressKey(Qt::Key_F5, stamp(0));
        QVERIFY(window->RunCycle().Timing());
        clock->Set(1000 + std::uint32_t(handledF8));
        PressKey(Qt::Key_F8, stamp(3010));
        clock->Set(1000 + std::uint32_t(handledF9));
        PressKey(Qt::Key_F9, stamp(4030));
        QCOMPARE(window->SortGrid1->Cells(ColLauf1, 1), time1);
        QCOMPARE(window->SortGrid1->Cells(ColLauf1, 2), time2);
    }

    void yesterdaysResultsStayOnTheHostUntilTheRaceHasSomething_data()
    {
        QTest::addColumn<QString>("start"); // what the operator does after the program has started
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("restore refused, list loaded later")
            << "Nein, dann Liste laden" << QByteArray("Muster");
        QTest::newRow("restore taken") << "Ja" << QByteArray("Muster");
        QTest::newRow("protocol emptied by the operator")
            << "Liste laden, Protokoll löschen" << QByteArray(R"("zeilen":[])");
    }

    // The club's page still shows yesterday's results when the program is opened to
    // print certificates; only the race of today replaces them.
    void yesterdaysResultsStayOnTheHostUntilTheRaceHasSomething()
    {
        QFETCH(QString, start);
        QFETCH(QByteArray, shown);
        LoopbackWebDav webdav;
        if (!webdav.Prepare())
            QSKIP("nginx is not installed");
        QVERIFY(webdav.Start());
        window.reset();
        const QByteArray yesterday = R"({"veranstaltung":"Gestern","zeilen":[["1","Alt"]]})";
        {
            QFile file(webdav.Path(QStringLiteral("site"), QStringLiteral("ergebnisse.json")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(yesterday);
        }
        // A session left with a time not saved, so that the start asks about it.
        const QString journals = Path(QStringLiteral("journal"));
        QVERIFY(QDir().mkpath(journals));
        TSystemAccess access = Access();
        access.JournalFolder = journals;
        window = std::make_unique<TTestFormMain>(access);
        QVERIFY(window->LoadStarterList(Path("list.txt")));
        window->TriggerCommand(window->mStart, 2000);
        window->TriggerCommand(window->mSTOP1, 12000);
        window->TriggerCommand(window->mStop2, 13000);
        window.reset();

        QSettings(Path(QStringLiteral("settings.ini")), QSettings::IniFormat)
            .setValue(QStringLiteral("OnlineZiel"), webdav.Folder(QStringLiteral("site")).toString());
        const bool restore = start == u"Ja";
        if (start.startsWith(u"Liste"))
            QDir(journals).removeRecursively();
        else
            dialogs->answers.enqueue(restore);
        window = std::make_unique<TTestFormMain>(access);
        QVERIFY(window->Online());
        QSignalSpy status(window->Online(), &OnlinePublisher::StatusChanged);
        QSignalSpy uploaded(window->Online(), &OnlinePublisher::Uploaded);
        QVERIFY(ShowActive(*window));
        window->RestoreLastSession();
        QVERIFY(dialogs->answers.isEmpty());
        // Whatever the start has scheduled has run.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (!restore) {
            QCOMPARE(webdav.Read(QStringLiteral("site"), QStringLiteral("ergebnisse.json")), yesterday);
            QVERIFY(window->LoadStarterList(Path("list.txt")));
        }
        if (start.endsWith(u"löschen")) {
            QTRY_VERIFY_WITH_TIMEOUT(
                webdav.Read(QStringLiteral("site"), QStringLiteral("ergebnisse.json")).contains("Muster"),
                10000);
            dialogs->answers.enqueue(true);
            window->sbCLSall->click();
            QCOMPARE(window->Results().RowCount(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            webdav.Read(QStringLiteral("site"), QStringLiteral("ergebnisse.json")).contains(shown), 10000);
        QTRY_VERIFY(!status.isEmpty() && status.last().first().value<OnlineStatus>().current);
        // The first upload of the session was the race's, not an empty page before it.
        QCOMPARE(status.last().first().value<OnlineStatus>().uploads, uploaded.size());
        QVERIFY2(uploaded.first().first().toByteArray().contains("Muster"),
                 uploaded.first().first().toByteArray().constData());
        QVERIFY(
            webdav.Read(QStringLiteral("site"), QStringLiteral("index.html")).contains("statisch = true"));
    }

    // "Verbindung prüfen" in the settings, against nginx with WebDAV on loopback.
    void connectionCheckSaysWhatWentWrong()
    {
        QFETCH(QString, folder);
        QFETCH(QString, password);
        QFETCH(QString, message);
        LoopbackWebDav webdav;
        if (!webdav.Prepare())
            QSKIP("nginx is not installed");
        QVERIFY(webdav.Start());
        const QString typed = folder.contains(u'.') ? folder : webdav.Folder(folder).toString();
        dialogs->answers.enqueue(true); // the password goes over http:// all the same
        dialogs->modalAnswers.enqueue([&](QDialog&) {
            TCfgDialog* settings = window->CfgDialog;
            settings->edOnlineZiel->setText(typed);
            settings->edOnlineBenutzer->setText(QStringLiteral("verein"));
            settings->edOnlinePasswort->setText(password);
            QVERIFY(settings->btnOnlineCheck->isVisibleTo(settings));
            settings->btnOnlineCheck->click();
            QVERIFY(settings->isEnabled());
            settings->CancelBtn->click();
        });
        window->bCFGClick();
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY2(dialogs->messages.constFirst().startsWith(message),
                 qPrintable(dialogs->messages.constFirst()));
        const QByteArray written = webdav.Read(folder, QStringLiteral("verbindungstest.txt"));
        QCOMPARE(written.startsWith("Quellorix: Verbindung geprüft am "),
                 message.startsWith(u"Verbindung in Ordnung"));
        QVERIFY(window->Settings.OnlineZiel.isEmpty()); // cancelled: nothing kept
    }

    // An address with the password in it ("http://verein:richtig@…"): at OK the password goes
    // to the keyring and out of the address and the settings file, and the uploads use it.
    void passwordInTheAddressGoesToTheKeyring()
    {
        LoopbackWebDav webdav;
        if (!webdav.Prepare())
            QSKIP("nginx is not installed");
        QVERIFY(webdav.Start());
        QUrl typed = webdav.Folder(QStringLiteral("locked"));
        typed.setUserName(QStringLiteral("verein"));
        typed.setPassword(QStringLiteral("richtig"));
        dialogs->answers.enqueue(true); // unencrypted, but the club's choice
        dialogs->modalAnswers.enqueue([&](QDialog&) {
            window->CfgDialog->edOnlineZiel->setText(typed.toString());
            window->CfgDialog->OKBtn->click();
        });
        window->bCFGClick();
        QCOMPARE(dialogs->questions.size(), 1);
        QVERIFY2(dialogs->questions.constFirst().contains(u"unverschlüsselt"),
                 qPrintable(dialogs->questions.constFirst()));
        QUrl kept = typed;
        kept.setPassword({});
        QCOMPARE(window->Settings.OnlineZiel, kept.toString());
        QCOMPARE(passwords->Read(QStringLiteral("verein@127.0.0.1"), nullptr),
                 std::optional<QString>(QStringLiteral("richtig")));
        QVERIFY(!ReadFile(QStringLiteral("settings.ini")).contains("richtig"));
        QTRY_VERIFY_WITH_TIMEOUT(OnlineState().first.startsWith(u"Online: aktuell"), 10000);
        QVERIFY(webdav.Read(QStringLiteral("locked"), QStringLiteral("ergebnisse.json")).contains("Muster"));
    }

    void addressTheProgramCannotUseIsRefusedAtOk_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("scp") << "scp://verein@www.example.de/live/"
                             << "„scp://verein@www.example.de/live/“ beginnt mit scp://";
        QTest::newRow("typing error") << "htps://www.example.de/live/"
                                      << "„htps://www.example.de/live/“ beginnt mit htps://";
        QTest::newRow("no scheme") << "www.example.de/live/"
                                   << "„www.example.de/live/“ ist kein Ordner auf einem Webserver";
    }

    // Refused with a German message at OK, not only by "Verbindung prüfen": the dialog stays
    // open with what was typed, and the settings keep the old address.
    void addressTheProgramCannotUseIsRefusedAtOk()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        window->Settings.OnlineZiel = QStringLiteral("https://www.example.de/alt/");
        dialogs->modalAnswers.enqueue([&](QDialog& dialog) {
            TCfgDialog* settings = window->CfgDialog;
            settings->edOnlineZiel->setText(typed);
            settings->edOnlinePasswort->setText(QStringLiteral("geheim"));
            settings->OKBtn->click();
            QVERIFY(dialog.isVisible());
            QCOMPARE(settings->edOnlineZiel->text(), typed);
            QCOMPARE(settings->edOnlinePasswort->text(), QStringLiteral("geheim"));
            settings->CancelBtn->click();
        });
        window->bCFGClick();
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY2(dialogs->messages.constFirst().startsWith(message),
                 qPrintable(dialogs->messages.constFirst()));
        QCOMPARE(window->Settings.OnlineZiel, QStringLiteral("https://www.example.de/alt/"));
    }

    void loginInClearIsWarnedAbout_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("check"); // "Verbindung prüfen" instead of OK
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QString>("kept"); // the address in the settings afterwards
        QTest::newRow("http, kept anyway")
            << "http://verein@127.0.0.1:9/dav/"
            << "geheim" << false << true << true << "http://verein@127.0.0.1:9/dav/";
        QTest::newRow("ftp, back to the dialog") << "ftp://verein@127.0.0.1:9/live/"
                                                 << "geheim" << false << false << true << "";
        QTest::newRow("https, nothing to warn about")
            << "https://verein@127.0.0.1:9/dav/"
            << "geheim" << false << false << false << "https://verein@127.0.0.1:9/dav/";
        QTest::newRow("http without a login") << "http://127.0.0.1:9/dav/"
                                              << "" << false << false << false << "http://127.0.0.1:9/dav/";
        QTest::newRow("check over http, not sent") << "http://verein@127.0.0.1:9/dav/"
                                                   << "geheim" << true << false << true << "";
    }

    void loginInClearIsWarnedAbout()
    {
        QFETCH(QString, typed);
        QFETCH(QString, password);
        QFETCH(bool, check);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(QString, kept);
        dialogs->answers.enqueue(answer);
        dialogs->modalAnswers.enqueue([&](QDialog& dialog) {
            TCfgDialog* settings = window->CfgDialog;
            settings->edOnlineZiel->setText(typed);
            settings->edOnlinePasswort->setText(password);
            if (check) {
                settings->btnOnlineCheck->click();
                settings->CancelBtn->click();
                return;
            }
            settings->OKBtn->click();
            if (dialog.isVisible()) {
                QCOMPARE(settings->edOnlineZiel->text(), typed);
                settings->CancelBtn->click();
            }
        });
        window->bCFGClick();
        QCOMPARE(dialogs->questions.size(), asked ? 1 : 0);
        if (asked)
            QVERIFY2(
                dialogs->questions.constFirst().startsWith(
                    QStringLiteral("Über %1:// geht das Passwort unverschlüsselt").arg(QUrl(typed).scheme())),
                qPrintable(dialogs->questions.constFirst()));
        QVERIFY(dialogs->messages.isEmpty()); // the check over http didn't run
        QCOMPARE(window->Settings.OnlineZiel, kept);
    }
};

QTEST_MAIN(TestFormMainLive)
#include "tst_formmain_live.moc"
