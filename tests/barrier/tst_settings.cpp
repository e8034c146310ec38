#include "TSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

char* toString(const TStoredSettings& s)
{
    const auto optional = [](const std::optional<int>& v) {
        return v ? QByteArray::number(*v) : QByteArrayLiteral("unset");
    };
    const QByteArray text =
        "Left=" + optional(s.Left) + " Top=" + optional(s.Top) + " Width=" + QByteArray::number(s.Width) +
        " Height=" + QByteArray::number(s.Height) + " Port=" + QByteArray::number(s.Port) +
        " Alg=" + QByteArray::number(s.Alg1) + "," + QByteArray::number(s.Alg2) + "," +
        QByteArray::number(s.Alg3) + " CountBahn=" + QByteArray::number(s.CountBahn) +
        " FilterInd=" + QByteArray::number(s.FilterInd) +
        " TimerGesperrt=" + QByteArray::number(s.TimerGesperrt) +
        " AllLaufe=" + QByteArray::number(s.AllLaufe) + " ProbeLaufe=" + QByteArray::number(s.ProbeLaufe);
    return qstrdup(text.constData());
}

char* toString(const TStoredValue& v)
{
    return qstrdup((v.name + QLatin1Char('=') + QString::number(v.value)).toUtf8().constData());
}

namespace {

// A store with the values a program of the same name wrote earlier.
TStoredSettings Stored()
{
    TStoredSettings s;
    s.Left = 120;
    s.Top = -8;
    s.Width = 1024;
    s.Height = 600;
    s.Port = 3;
    s.Alg1 = 1;
    s.Alg2 = 0;
    s.Alg3 = 1;
    s.CountBahn = 1;
    s.FilterInd = 4;
    s.TimerGesperrt = 7000;
    s.AllLaufe = 5;
    s.ProbeLaufe = 1;
    return s;
}

const QByteArray StoredLines = "Left=120\nTop=-8\nWidth=1024\nHeight=600\nPort=3\nAlg1=1\nAlg2=0\nAlg3=1\n"
                               "CountBahn=1\nFilterInd=4\nTimerGesperrt=7000\nAllLaufe=5\nProbeLaufe=1\n";

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void firstStartHasDefaults();
    void readsHandWrittenFile_data();
    void readsHandWrittenFile();
    void readOrder();
    void writeOrder();
    void writtenValuesReadBackInANewStore();
    void unknownPositionDoesNotHideLaterValues();
    void unwritableStoreWritesNothing();
    void applicationName_data();
    void applicationName();
    void settingsKeyOfThisProgram();

private:
    QString WriteConf(const QByteArray& lines);
    QTemporaryDir m_Dir;
    int m_FileCount = 0;
};

QString TestSettings::WriteConf(const QByteArray& lines)
{
    const QString path = m_Dir.filePath(QStringLiteral("store%1.conf").arg(++m_FileCount));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write("[General]\n" + lines);
    return path;
}

void TestSettings::firstStartHasDefaults()
{
    QSettings store(m_Dir.filePath(QStringLiteral("missing.conf")), QSettings::IniFormat);
    const TStoredSettings read = ReadSettings(store);
    QVERIFY(!read.Left.has_value());
    QVERIFY(!read.Top.has_value());
    QCOMPARE(read.Width, 802);
    QCOMPARE(read.Height, 445);
    QCOMPARE(read.Port, 0);
    QCOMPARE(read.Alg1, 0);
    QCOMPARE(read.Alg2, 0);
    QCOMPARE(read.Alg3, 0);
    QCOMPARE(read.CountBahn, 2);
    QCOMPARE(read.FilterInd, 1);
    QCOMPARE(read.TimerGesperrt, 10000);
    QCOMPARE(read.AllLaufe, 6);
    QCOMPARE(read.ProbeLaufe, 2);
    QVERIFY(!QFileInfo::exists(m_Dir.filePath(QStringLiteral("missing.conf"))));
}

void TestSettings::readsHandWrittenFile_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<TStoredSettings>("expected");

    QTest::newRow("all values as text") << StoredLines << Stored();
    {
        TStoredSettings s;
        s.Left = 10;
        s.Top = 20;
        s.Width = 900;
        s.Height = 500;
        s.Port = 4;
        QTest::newRow("Left to Port without Alg1")
            << QByteArray(
                   "Left=10\nTop=20\nWidth=900\nHeight=500\nPort=4\nAlg2=1\nCountBahn=1\nProbeLaufe=4\n")
            << s;
    }
    {
        TStoredSettings s;
        s.Left = 10;
        s.Top = 20;
        QTest::newRow("missing Width") << QByteArray("Left=10\nTop=20\nHeight=500\nPort=4\n") << s;
    }
    {
        TStoredSettings s = Stored();
        s.Alg2 = 0;
        s.Alg3 = 0;
        s.CountBahn = 2;
        s.FilterInd = 1;
        s.TimerGesperrt = 10000;
        s.AllLaufe = 6;
        s.ProbeLaufe = 2;
        QByteArray lines = StoredLines;
        lines.replace("Alg2=0", "Alg2=an");
        QTest::newRow("non-integer Alg2 stops") << lines << s;
        lines = StoredLines;
        lines.replace("Alg2=0", "Alg2=0.5");
        QTest::newRow("fraction stops") << lines << s;
        lines = StoredLines;
        lines.replace("Alg2=0", "Alg2=");
        QTest::newRow("empty value stops") << lines << s;
        lines = StoredLines;
        lines.replace("Alg2=0", "Alg2=1, 2");
        QTest::newRow("list value stops") << lines << s;
    }
    {
        TStoredSettings s;
        QTest::newRow("non-integer first value") << QByteArray("Left=links\nTop=20\n") << s;
    }
    {
        TStoredSettings s = Stored();
        s.AllLaufe = 6;
        QByteArray lines = StoredLines;
        lines.replace("AllLaufe=5", "AllLaufe=0");
        QTest::newRow("AllLaufe 0 ignored, reading goes on") << lines << s;
        lines = StoredLines;
        lines.replace("AllLaufe=5", "AllLaufe=-2");
        QTest::newRow("AllLaufe negative ignored") << lines << s;
        lines = StoredLines;
        lines.replace("AllLaufe=5", "AllLaufe=9");
        QTest::newRow("AllLaufe beyond the run columns") << lines << s;
    }
    {
        TStoredSettings s = Stored();
        s.ProbeLaufe = 5;
        QByteArray lines = StoredLines;
        lines.replace("ProbeLaufe=1", "ProbeLaufe=8");
        QTest::newRow("ProbeLaufe above 5") << lines << s;
        s.ProbeLaufe = 0;
        lines = StoredLines;
        lines.replace("ProbeLaufe=1", "ProbeLaufe=-1");
        QTest::newRow("ProbeLaufe negative") << lines << s;
    }
    {
        TStoredSettings s = Stored();
        s.CountBahn = 2;
        QByteArray lines = StoredLines;
        lines.replace("CountBahn=1", "CountBahn=3");
        QTest::newRow("CountBahn 3 means two lanes") << lines << s;
        s.CountBahn = 1;
        lines = StoredLines;
        lines.replace("CountBahn=1", "CountBahn=0");
        QTest::newRow("CountBahn 0 means one lane") << lines << s;
    }
    {
        TStoredSettings s = Stored();
        s.TimerGesperrt = 0;
        QByteArray lines = StoredLines;
        lines.replace("TimerGesperrt=7000", "TimerGesperrt=-100");
        QTest::newRow("negative lock time") << lines << s;
    }
    for (const auto& [stored, port] : {std::pair{"17", 0}, {"261", 0}, {"-1", 0}, {"16", 16}, {"1", 1}}) {
        TStoredSettings s = Stored();
        s.Port = port;
        QByteArray lines = StoredLines;
        lines.replace("Port=3", QByteArray("Port=") + stored);
        QTest::newRow(qPrintable(QString("port %1 %2").arg(stored, port ? "kept" : "means none")))
            << lines << s;
    }
    {
        TStoredSettings s = Stored();
        s.PortAdapter = "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0";
        QByteArray lines = StoredLines + "PortAdapter=" + s.PortAdapter.toUtf8() + "\n";
        QTest::newRow("adapter beside the port") << lines << s;
        const QByteArray adapter = s.PortAdapter.toUtf8();
        s = TStoredSettings{};
        s.PortAdapter = QString::fromUtf8(adapter);
        QTest::newRow("adapter read also when the numbers stop early")
            << QByteArray("Left=x\nPortAdapter=" + adapter + "\n") << s;
    }
    {
        TStoredSettings s = Stored();
        s.Mindestzeit = 250;
        QTest::newRow("minimum time beside the numbers")
            << QByteArray(StoredLines + "Mindestzeit=250\n") << s;
        s = TStoredSettings{};
        s.Mindestzeit = 250;
        QTest::newRow("minimum time read also when the numbers stop early")
            << QByteArray("Left=x\nMindestzeit=250\n") << s;
        QTest::newRow("minimum time not a number is off")
            << QByteArray("Mindestzeit=kurz\n") << TStoredSettings{};
        QTest::newRow("negative minimum time is off") << QByteArray("Mindestzeit=-5\n") << TStoredSettings{};
    }
    {
        TStoredSettings s;
        s.OnlineZiel = QStringLiteral("sftp://verein@www.example.de/live/");
        s.OnlineBenutzer = QStringLiteral("verein");
        QTest::newRow("web host beside the numbers")
            << QByteArray("Left=x\nOnlineZiel=sftp://verein@www.example.de/live/\nOnlineBenutzer=verein\n")
            << s;
    }
    {
        TStoredSettings s;
        s.StartplatzPort = 47110;
        s.StartplatzSchluessel = QStringLiteral("ABCDEFGHJKLMNPQR");
        s.ZielAdresse = QStringLiteral("192.168.1.20:47110");
        QTest::newRow("start station beside the numbers, the code as typed")
            << QByteArray("Left=x\nStartplatzPort=47110\nStartplatzSchluessel=abcd-efgh jklm-npqr\n"
                          "ZielAdresse= 192.168.1.20:47110\n")
            << s;
        QTest::newRow("start station port out of range and an unsound code are off")
            << QByteArray("StartplatzPort=70000\nStartplatzSchluessel=ABCD-0000\n") << TStoredSettings{};
    }
}

void TestSettings::readsHandWrittenFile()
{
    QFETCH(QByteArray, lines);
    QFETCH(TStoredSettings, expected);
    // A new file per row: QSettings caches a file's contents within the process.
    QSettings store(WriteConf(lines), QSettings::IniFormat);
    QCOMPARE(store.status(), QSettings::NoError);
    QCOMPARE(ReadSettings(store), expected);
}

void TestSettings::readOrder()
{
    const QStringList expected{"Left",          "Top",      "Width",     "Height",    "Port",
                               "Alg1",          "Alg2",     "Alg3",      "CountBahn", "FilterInd",
                               "TimerGesperrt", "AllLaufe", "ProbeLaufe"};
    QCOMPARE(SettingsReadOrder(), expected);
}

void TestSettings::writeOrder()
{
    const QList<TStoredValue> expected{
        {"Left", 120},           {"Top", -8},       {"Width", 1024}, {"Height", 600}, {"Port", 3},
        {"CountBahn", 1},        {"FilterInd", 4},  {"Alg1", 1},     {"Alg2", 0},     {"Alg3", 1},
        {"TimerGesperrt", 7000}, {"ProbeLaufe", 1}, {"AllLaufe", 5}};
    QCOMPARE(SettingsWriteList(Stored()), expected);
}

void TestSettings::writtenValuesReadBackInANewStore()
{
    const QString path = m_Dir.filePath(QStringLiteral("written.conf"));
    TStoredSettings values = Stored();
    values.PortAdapter = QStringLiteral("usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0");
    values.Mindestzeit = 875;
    values.OnlineZiel = QStringLiteral("https://www.example.de/dav/live/");
    values.OnlineBenutzer = QStringLiteral("verein");
    values.StartplatzPort = 47110;
    values.StartplatzSchluessel = QStringLiteral("ABCDEFGHJKLMNPQR");
    values.ZielAdresse = QStringLiteral("[fe80::1]:47110");
    {
        QSettings store(path, QSettings::IniFormat);
        QVERIFY(WriteSettings(store, values));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("TimerGesperrt=7000"), text.constData());
    QVERIFY2(text.contains("Top=-8"), text.constData());

    QSettings again(path, QSettings::IniFormat);
    QCOMPARE(ReadSettings(again), values);
}

void TestSettings::unknownPositionDoesNotHideLaterValues()
{
    TStoredSettings values = Stored();
    values.Left.reset();
    values.Top.reset();
    const QString path = m_Dir.filePath(QStringLiteral("noposition.conf"));
    {
        QSettings store(path, QSettings::IniFormat);
        QVERIFY(WriteSettings(store, values));
    }
    QSettings again(path, QSettings::IniFormat);
    TStoredSettings expected = Stored();
    expected.Left = 0;
    expected.Top = 0;
    QCOMPARE(ReadSettings(again), expected);
}

void TestSettings::unwritableStoreWritesNothing()
{
    // A store below a plain file cannot be created, not even by root.
    const QString blocker = m_Dir.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString path = blocker + QStringLiteral("/Tarnvik/Quellorix.conf");
    QSettings store(path, QSettings::IniFormat);
    QVERIFY(!WriteSettings(store, Stored()));
    QVERIFY(!QFileInfo::exists(path));
}

void TestSettings::applicationName_data()
{
    QTest::addColumn<QString>("programPath");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Linux program") << "/opt/tarnvik/Quellorix"
                                   << "Quellorix";
    QTest::newRow("Windows program") << "C:/Programme/Tarnvik/Quellorix.exe"
                                     << "Quellorix";
    QTest::newRow("renamed program") << "C:/Rennen/Zeitnahme.exe"
                                     << "Zeitnahme";
    QTest::newRow("dot in the name") << "/usr/local/bin/Quellorix.2.7.exe"
                                     << "Quellorix.2.7";
}

void TestSettings::applicationName()
{
    QFETCH(QString, programPath);
    QFETCH(QString, expected);
    QCOMPARE(SettingsApplicationName(programPath), expected);
}

void TestSettings::settingsKeyOfThisProgram()
{
    const std::unique_ptr<QSettings> store = OpenSettingsKey();
    QCOMPARE(store->organizationName(), QStringLiteral("Tarnvik"));
    QCOMPARE(store->applicationName(), QStringLiteral("tst_settings"));
    QCOMPARE(store->format(), QSettings::NativeFormat);
    QCOMPARE(store->scope(), QSettings::UserScope);
}

int main(int argc, char** argv)
{
    // Keeps OpenSettingsKey away from the user's real configuration.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
