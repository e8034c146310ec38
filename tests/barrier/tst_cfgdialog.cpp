#include "LocaleScope.h"
#include "TCfgDialog.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "SerialAdapters.h"
#include "SerialPorts.h"
#include "StartLinkCodec.h"

namespace {

constexpr std::uint32_t Com1AndCom3 = 0x00030005;

TStoredSettings WithPort(int port, int countBahn = 2)
{
    TStoredSettings s;
    s.Port = port;
    s.CountBahn = countBahn;
    return s;
}

QString FirstWord(const QString& text)
{
    return text.section(QLatin1Char(' '), 0, 0);
}

QStringList EntryWords(const QComboBox* list)
{
    QStringList words;
    for (int i = 0; i < list->count(); ++i)
        words.append(FirstWord(list->itemText(i)));
    return words;
}

bool HasPixel(const QImage& image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF) && qAlpha(image.pixel(x, y)) == 255)
                return true;
    return false;
}

// What the user does: choose a port entry with the keyboard on the closed list.
void ChoosePortEntry(QComboBox* list, int index)
{
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(list, Qt::Key_Down);
}

} // namespace

class TestCfgDialog : public QObject
{
    Q_OBJECT

private slots:
    void controlTexts_data();
    void controlTexts();
    void controlRangesAndDefaults();
    void portList_data();
    void portList();
    void portEntryOnLinuxShowsDevice();
    void portNumberOfEntry_data();
    void portNumberOfEntry();
    void storedPortSelection_data();
    void storedPortSelection();
    void noPortsStillLetsTheLanesBeChosen();
    void minimumTimeTakesCommaAndPoint_data();
    void minimumTimeTakesCommaAndPoint();
    void keinKeepsEdgeChoices();
    void portEntryTakesEdgeChoices();
    void laneCountFollowsRadioGroup_data();
    void laneCountFollowsRadioGroup();
    void portChangeFollowsTheChosenLaneCount();
    void edgeControlsFollowPortAndLanes_data();
    void edgeControlsFollowPortAndLanes();
    void sizeStaysWhenAPortIsChosen();
    void spinTypedTextIsClampedOnLeaving_data();
    void spinTypedTextIsClampedOnLeaving();
    void spinSetValueIsClamped();
    void lockTimeTransfer_data();
    void lockTimeTransfer();
    void runCountsTransfer();
    void minimumTimeTransfer_data();
    void minimumTimeTransfer();
    void okAndCancelResults();
    void startStationFieldsTransfer();
    void startStationFieldsRefuseUnsoundInput_data();
    void startStationFieldsRefuseUnsoundInput();
    void contactPictures();
    void drawItemGeometry();
    void drawItemPicturesAndText();
    void closedListShowsPicture();
};

void TestCfgDialog::controlTexts_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("expected");
    QTest::newRow("rgBahn") << "rgBahn"
                            << "Bahn/en";
    QTest::newRow("LabelLaufProbe") << "LabelLaufProbe"
                                    << "Probeläufe:";
    QTest::newRow("LabelLaufALL") << "LabelLaufALL"
                                  << "Durchgänge:";
    QTest::newRow("gbLS") << "gbLS"
                          << "Lichtschranke(n)";
    QTest::newRow("Label19") << "Label19"
                             << "Port:";
    QTest::newRow("LabelAlgo") << "LabelAlgo"
                               << "Algorithmus:";
    QTest::newRow("Label1") << "Label1"
                            << "Start (7+8):";
    QTest::newRow("Label3") << "Label3"
                            << "Stopp1 (4+6):";
    QTest::newRow("LabelStop2") << "LabelStop2"
                                << "Stopp2 (4+1):";
    QTest::newRow("Label2") << "Label2"
                            << "Gesperrt:";
    QTest::newRow("Label5") << "Label5"
                            << "Sek.";
    QTest::newRow("OKBtn") << "OKBtn"
                           << "OK";
    QTest::newRow("CancelBtn") << "CancelBtn"
                               << "Abbrechen";
}

void TestCfgDialog::controlTexts()
{
    QFETCH(QString, control);
    QFETCH(QString, expected);
    TCfgDialog dialog(Com1AndCom3);
    QWidget* widget = dialog.findChild<QWidget*>(control);
    QVERIFY(widget);
    const char* property = qobject_cast<QGroupBox*>(widget) ? "title" : "text";
    QCOMPARE(widget->property(property).toString(), expected);
}

void TestCfgDialog::controlRangesAndDefaults()
{
    TCfgDialog dialog(Com1AndCom3);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Einstellungen"));

    QCOMPARE(dialog.rgBahn->Count(), 2);
    QCOMPARE(dialog.rgBahn->Button(0)->text(), QStringLiteral("1"));
    QCOMPARE(dialog.rgBahn->Button(1)->text(), QStringLiteral("2"));
    QCOMPARE(dialog.rgBahn->ItemIndex(), 1);

    QCOMPARE(dialog.seProbe->minimum(), 0);
    QCOMPARE(dialog.seProbe->maximum(), 5);
    QCOMPARE(dialog.seProbe->value(), 2);
    QCOMPARE(dialog.seALL->minimum(), 1);
    QCOMPARE(dialog.seALL->maximum(), 6);
    QCOMPARE(dialog.seALL->value(), 6);
    QVERIFY(dialog.seALL->isHidden());
    QVERIFY(dialog.LabelLaufALL->isHidden());
    QCOMPARE(dialog.seTimeout->minimum(), 1);
    QCOMPARE(dialog.seTimeout->maximum(), 999);
    QCOMPARE(dialog.seTimeout->value(), 10);

    QCOMPARE(dialog.cbPort->maxVisibleItems(), 20);
    const std::pair<TCfgContactList*, QString> lists[] = {
        {dialog.cbAlg1, "Kontakt 7+8"}, {dialog.cbAlg2, "Kontakt 4+6"}, {dialog.cbAlg3, "Kontakt 4+1"}};
    for (const auto& [list, hint] : lists) {
        QCOMPARE(EntryWords(list), QStringList({"ON", "OFF"}));
        QCOMPARE(list->toolTip(), hint);
        QCOMPARE(list->currentIndex(), 0);
        QVERIFY(!list->isEnabled());
    }

    QVERIFY(dialog.Image1->isHidden());
    QVERIFY(dialog.Image2->isHidden());
    QCOMPARE(dialog.Image1->pixmap().size(), QSize(41, 16));
    QVERIFY(dialog.OKBtn->isDefault());
    QVERIFY(!dialog.CancelBtn->isDefault());
}

void TestCfgDialog::portList_data()
{
    QTest::addColumn<quint32>("portsFound");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("no port") << quint32(0) << QStringList{"Kein"};
    QTest::newRow("COM1 and COM3") << quint32(Com1AndCom3) << QStringList{"Kein", "COM1", "COM3"};
    QTest::newRow("COM12 only") << quint32(0x000C0800) << QStringList{"Kein", "COM12"};
    QTest::newRow("COM5 and COM16") << quint32(0x00108010) << QStringList{"Kein", "COM5", "COM16"};
    QTest::newRow("high word beyond the port bits")
        << quint32(0xFFFF0003) << QStringList{"Kein", "COM1", "COM2"};
}

void TestCfgDialog::portList()
{
    QFETCH(quint32, portsFound);
    QFETCH(QStringList, entries);
    TCfgDialog dialog(portsFound);
    QCOMPARE(EntryWords(dialog.cbPort), entries);
    QCOMPARE(dialog.cbPort->itemText(0), QStringLiteral("Kein"));
    QVERIFY(dialog.rgBahn->isEnabled()); // lanes are chosen with or without a port
}

void TestCfgDialog::portEntryOnLinuxShowsDevice()
{
#ifdef Q_OS_WIN
    QSKIP("Windows port names need no device path");
#else
    TCfgDialog dialog(Com1AndCom3);
    QCOMPARE(dialog.cbPort->itemText(1), QStringLiteral("COM1  (%1)").arg(PortDeviceName(1)));
    QCOMPARE(dialog.cbPort->itemText(2), QStringLiteral("COM3  (%1)").arg(PortDeviceName(3)));
#endif
}

void TestCfgDialog::portNumberOfEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("expected");
    QTest::newRow("Kein") << "Kein" << 0;
    QTest::newRow("COM3") << "COM3" << 3;
    QTest::newRow("COM12") << "COM12" << 12;
    QTest::newRow("COM12 with device") << "COM12  (/dev/ttyUSB7)" << 12;
    QTest::newRow("COM5 with device") << "COM5  (/dev/ttyUSB0)" << 5;
}

void TestCfgDialog::portNumberOfEntry()
{
    QFETCH(QString, entry);
    QFETCH(int, expected);
    QCOMPARE(TCfgDialog::PortNumberOfEntry(entry), expected);
}

void TestCfgDialog::storedPortSelection_data()
{
    QTest::addColumn<quint32>("portsFound");
    QTest::addColumn<int>("storedPort");
    QTest::addColumn<int>("indexBeforeShow");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("portAfterOk");
    QTest::newRow("stored port found") << quint32(Com1AndCom3) << 1 << 1 << "COM1" << false << 1;
    QTest::newRow("stored port 5 missing") << quint32(Com1AndCom3) << 5 << -1 << "COM3" << true << 3;
    QTest::newRow("stored port 0") << quint32(Com1AndCom3) << 0 << 0 << "Kein" << false << 0;
    QTest::newRow("no port found") << quint32(0) << 4 << -1 << "Kein" << true << 0;
}

void TestCfgDialog::storedPortSelection()
{
    QFETCH(quint32, portsFound);
    QFETCH(int, storedPort);
    QFETCH(int, indexBeforeShow);
    QFETCH(QString, shown);
    QFETCH(bool, changed);
    QFETCH(int, portAfterOk);
    TCfgDialog dialog(portsFound);
    dialog.Fill(WithPort(storedPort));
    QCOMPARE(dialog.cbPort->currentIndex(), indexBeforeShow);
    dialog.show();
    QCOMPARE(FirstWord(dialog.cbPort->currentText()), shown);
    QCOMPARE(dialog.PortEntryChanged(), changed);
    TStoredSettings result = WithPort(storedPort);
    dialog.ApplyTo(result);
    QCOMPARE(result.Port, portAfterOk);
}

void TestCfgDialog::minimumTimeTakesCommaAndPoint_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("typed");
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("comma, German") << german << "1,5";
    QTest::newRow("point, German") << german << "1.5";
    QTest::newRow("comma, English") << english << "1,5";
    QTest::newRow("point, English") << english << "1.5";
}

void TestCfgDialog::minimumTimeTakesCommaAndPoint()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, typed);
    const LocaleScope scope(locale);
    TCfgDialog dialog(0);
    dialog.Fill(WithPort(0));
    dialog.show();
    dialog.seMindestzeit->setFocus();
    dialog.seMindestzeit->selectAll();
    QTest::keyClicks(dialog.seMindestzeit, typed);
    QTest::keyClick(dialog.seMindestzeit, Qt::Key_Tab);
    QCOMPARE(dialog.seMindestzeit->value(), 1.5);
    TStoredSettings result = WithPort(0);
    dialog.ApplyTo(result);
    QCOMPARE(result.Mindestzeit, 150);
}

void TestCfgDialog::noPortsStillLetsTheLanesBeChosen()
{
    TCfgDialog dialog(0);
    dialog.Fill(WithPort(0));
    dialog.show();
    QVERIFY(!dialog.cbPort->isEnabled());
    // A club timing by keys alone runs one lane as well as two.
    QVERIFY(dialog.rgBahn->isEnabled());
    QTest::mouseClick(dialog.rgBahn->Button(0), Qt::LeftButton);
    TStoredSettings result = WithPort(0);
    dialog.ApplyTo(result);
    QCOMPARE(result.CountBahn, 1);
    QVERIFY(!dialog.cbAlg1->isEnabled());
    QVERIFY(!dialog.cbAlg3->isEnabled());
}

void TestCfgDialog::keinKeepsEdgeChoices()
{
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings = WithPort(3);
    settings.Alg1 = 1;
    settings.Alg2 = 1;
    settings.Alg3 = 1;
    dialog.Fill(settings);
    dialog.show();
    QVERIFY(dialog.cbAlg1->isEnabled());

    ChoosePortEntry(dialog.cbPort, 0);
    QCOMPARE(dialog.cbPort->currentText(), QStringLiteral("Kein"));
    QVERIFY(!dialog.cbAlg1->isEnabled());
    QVERIFY(!dialog.cbAlg2->isEnabled());
    QVERIFY(!dialog.cbAlg3->isEnabled());
    dialog.cbAlg1->setCurrentIndex(0);
    dialog.cbAlg2->setCurrentIndex(0);
    dialog.cbAlg3->setCurrentIndex(0);

    QVERIFY(dialog.PortEntryChanged());
    dialog.ApplyTo(settings);
    QCOMPARE(settings.Port, 0);
    QCOMPARE(settings.Alg1, 1);
    QCOMPARE(settings.Alg2, 1);
    QCOMPARE(settings.Alg3, 1);
}

void TestCfgDialog::portEntryTakesEdgeChoices()
{
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings = WithPort(0);
    dialog.Fill(settings);
    dialog.show();
    QVERIFY(!dialog.cbAlg1->isEnabled());

    ChoosePortEntry(dialog.cbPort, 1);
    QCOMPARE(FirstWord(dialog.cbPort->currentText()), QStringLiteral("COM1"));
    QVERIFY(dialog.cbAlg1->isEnabled());
    QVERIFY(dialog.cbAlg2->isEnabled());
    QVERIFY(dialog.cbAlg3->isEnabled());
    dialog.cbAlg1->setCurrentIndex(1);
    dialog.cbAlg3->setCurrentIndex(1);

    dialog.ApplyTo(settings);
    QCOMPARE(settings.Port, 1);
    QCOMPARE(settings.Alg1, 1);
    QCOMPARE(settings.Alg2, 0);
    QCOMPARE(settings.Alg3, 1);
}

void TestCfgDialog::laneCountFollowsRadioGroup_data()
{
    QTest::addColumn<int>("storedPort");
    QTest::addColumn<int>("storedLanes");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<bool>("lane2Enabled");
    QTest::addColumn<int>("lanesAfterOk");
    QTest::newRow("two lanes, click 1") << 1 << 2 << 0 << false << 1;
    QTest::newRow("one lane, click 2") << 1 << 1 << 1 << true << 2;
    QTest::newRow("two lanes, click 2") << 3 << 2 << 1 << true << 2;
    QTest::newRow("Kein, click 2") << 0 << 1 << 1 << false << 2;
}

void TestCfgDialog::laneCountFollowsRadioGroup()
{
    QFETCH(int, storedPort);
    QFETCH(int, storedLanes);
    QFETCH(int, clicked);
    QFETCH(bool, lane2Enabled);
    QFETCH(int, lanesAfterOk);
    TCfgDialog dialog(Com1AndCom3);
    dialog.Fill(WithPort(storedPort, storedLanes));
    dialog.show();
    QCOMPARE(dialog.rgBahn->ItemIndex(), storedLanes - 1);
    QCOMPARE(dialog.cbAlg3->isEnabled(), storedPort != 0 && storedLanes == 2);
    QCOMPARE(dialog.LabelStop2->isEnabled(), dialog.cbAlg3->isEnabled());

    QTest::mouseClick(dialog.rgBahn->Button(clicked), Qt::LeftButton);
    QCOMPARE(dialog.rgBahn->ItemIndex(), clicked);
    QCOMPARE(dialog.cbAlg3->isEnabled(), lane2Enabled);
    QCOMPARE(dialog.LabelStop2->isEnabled(), lane2Enabled);
    QVERIFY(dialog.cbAlg1->isEnabled() == (storedPort != 0));

    TStoredSettings settings = WithPort(storedPort, storedLanes);
    dialog.ApplyTo(settings);
    QCOMPARE(settings.CountBahn, lanesAfterOk);
}

void TestCfgDialog::portChangeFollowsTheChosenLaneCount()
{
    TCfgDialog dialog(Com1AndCom3);
    dialog.Fill(WithPort(1, 1));
    dialog.show();
    QTest::mouseClick(dialog.rgBahn->Button(1), Qt::LeftButton);
    QVERIFY(dialog.cbAlg3->isEnabled());
    ChoosePortEntry(dialog.cbPort, 2);
    QCOMPARE(FirstWord(dialog.cbPort->currentText()), QStringLiteral("COM3"));
    QVERIFY(dialog.cbAlg3->isEnabled());
    QVERIFY(dialog.LabelStop2->isEnabled());
    QVERIFY(dialog.cbAlg1->isEnabled());
}

// Each edge list and its label are enabled together: with a port, and lane
// 2's with two lanes as chosen in the dialog.
void TestCfgDialog::edgeControlsFollowPortAndLanes_data()
{
    QTest::addColumn<int>("storedPort");
    QTest::addColumn<int>("storedLanes");
    QTest::addColumn<int>("chosenEntry"); // -1: left as it is
    QTest::addColumn<bool>("lines");
    QTest::addColumn<bool>("lane2");
    QTest::newRow("Kein, two lanes") << 0 << 2 << -1 << false << false;
    QTest::newRow("Kein, then COM1 chosen") << 0 << 2 << 1 << true << true;
    QTest::newRow("COM1, then Kein chosen") << 1 << 2 << 0 << false << false;
    QTest::newRow("COM1, one lane") << 1 << 1 << -1 << true << false;
}

void TestCfgDialog::edgeControlsFollowPortAndLanes()
{
    QFETCH(int, storedPort);
    QFETCH(int, storedLanes);
    QFETCH(int, chosenEntry);
    QFETCH(bool, lines);
    QFETCH(bool, lane2);
    TCfgDialog dialog(Com1AndCom3);
    dialog.SetPortProblems([](int) { return QString(); });
    dialog.SetPortsFound(Com1AndCom3);
    dialog.Fill(WithPort(storedPort, storedLanes));
    dialog.show();
    if (chosenEntry >= 0)
        ChoosePortEntry(dialog.cbPort, chosenEntry);
    for (QWidget* control :
         std::initializer_list<QWidget*>{dialog.LabelAlgo, dialog.Label1, dialog.cbAlg1, dialog.Label3,
                                         dialog.cbAlg2, dialog.Label2, dialog.seTimeout})
        QVERIFY2(control->isEnabled() == lines, qPrintable(control->objectName()));
    QCOMPARE(dialog.cbAlg3->isEnabled(), lane2);
    QCOMPARE(dialog.LabelStop2->isEnabled(), lane2);
    // The closed lane 2 list is drawn as the other lists in the same state.
    dialog.cbAlg1->setCurrentIndex(0);
    dialog.cbAlg3->setCurrentIndex(0);
    const QImage lane2Box = dialog.cbAlg3->grab().toImage();
    dialog.cbAlg1->setEnabled(lane2);
    dialog.cbAlg1->resize(dialog.cbAlg3->size());
    QCOMPARE(lane2Box, dialog.cbAlg1->grab().toImage());
}

// Choosing a port shows its notes beside the lines; the dialog neither
// widens nor grows for them, and a long note's whole text is its tooltip.
void TestCfgDialog::sizeStaysWhenAPortIsChosen()
{
    TCfgDialog dialog(Com1AndCom3);
    const QString note = StampingPriorityNote();
    dialog.SetPortNotes([note](int) { return QStringList{note, note}; });
    dialog.SetPortProblems([](int) { return QString(); });
    dialog.SetPortsFound(Com1AndCom3);
    dialog.Fill(WithPort(0));
    dialog.show();
    dialog.layout()->activate();
    const QSize withoutPort = dialog.size();
    ChoosePortEntry(dialog.cbPort, 1);
    dialog.layout()->activate();
    QVERIFY(dialog.LabelPortNote->isVisible());
    QCOMPARE(dialog.size(), withoutPort);
    QVERIFY(dialog.LabelPortNote->toolTip().startsWith(note));
}

void TestCfgDialog::spinTypedTextIsClampedOnLeaving_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::newRow("seProbe above range") << "seProbe"
                                         << "7" << 5;
    QTest::newRow("seProbe in range") << "seProbe"
                                      << "3" << 3;
    QTest::newRow("seProbe not a number") << "seProbe"
                                          << "xy" << 0;
    QTest::newRow("seALL below range") << "seALL"
                                       << "0" << 1;
    QTest::newRow("seALL empty") << "seALL"
                                 << "" << 1;
    QTest::newRow("seTimeout above range") << "seTimeout"
                                           << "1500" << 999;
    QTest::newRow("seTimeout negative") << "seTimeout"
                                        << "-3" << 1;
    QTest::newRow("seTimeout in range") << "seTimeout"
                                        << "42" << 42;
}

void TestCfgDialog::spinTypedTextIsClampedOnLeaving()
{
    QFETCH(QString, control);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    TCfgDialog dialog(Com1AndCom3);
    auto* spin = dialog.findChild<TCfgSpinEdit*>(control);
    QVERIFY(spin);
    auto* edit = spin->findChild<QLineEdit*>();
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), typed);
    QCOMPARE(spin->Value(), expected);

    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(spin, &leave);
    QCOMPARE(spin->value(), expected);
    QCOMPARE(spin->text(), QString::number(expected));
}

void TestCfgDialog::spinSetValueIsClamped()
{
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings;
    settings.ProbeLaufe = 9;
    settings.AllLaufe = 0;
    settings.TimerGesperrt = 5'000'000;
    dialog.Fill(settings);
    QCOMPARE(dialog.seProbe->value(), 5);
    QCOMPARE(dialog.seALL->value(), 1);
    QCOMPARE(dialog.seTimeout->value(), 999);
    QCOMPARE(TCfgSpinEdit::ValueFromText(QStringLiteral("12"), 1, 6), 6);
    QCOMPARE(TCfgSpinEdit::ValueFromText(QStringLiteral("99999999999999999999"), 1, 6), 1);
}

void TestCfgDialog::lockTimeTransfer_data()
{
    QTest::addColumn<int>("storedMs");
    QTest::addColumn<int>("shownSeconds");
    QTest::addColumn<int>("chosenSeconds");
    QTest::addColumn<int>("storedAfterOk");
    QTest::newRow("default 10 s") << 10000 << 10 << 10 << 10000;
    QTest::newRow("1 s stored as 1000") << 10000 << 10 << 1 << 1000;
    QTest::newRow("seconds rounded down") << 10999 << 10 << 10 << 10000;
    QTest::newRow("below a second shows the minimum") << 500 << 1 << 1 << 1000;
    QTest::newRow("longest lock") << 999000 << 999 << 999 << 999000;
}

void TestCfgDialog::lockTimeTransfer()
{
    QFETCH(int, storedMs);
    QFETCH(int, shownSeconds);
    QFETCH(int, chosenSeconds);
    QFETCH(int, storedAfterOk);
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings;
    settings.TimerGesperrt = storedMs;
    dialog.Fill(settings);
    QCOMPARE(dialog.seTimeout->value(), shownSeconds);
    dialog.seTimeout->setValue(chosenSeconds);
    dialog.ApplyTo(settings);
    QCOMPARE(settings.TimerGesperrt, storedAfterOk);
}

void TestCfgDialog::runCountsTransfer()
{
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings;
    settings.ProbeLaufe = 3;
    settings.AllLaufe = 4;
    dialog.Fill(settings);
    QCOMPARE(dialog.seProbe->value(), 3);
    QCOMPARE(dialog.seALL->value(), 4);
    dialog.seProbe->setValue(0);
    dialog.ApplyTo(settings);
    QCOMPARE(settings.ProbeLaufe, 0);
    QCOMPARE(settings.AllLaufe, 4);
}

void TestCfgDialog::minimumTimeTransfer_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<double>("chosen");
    QTest::addColumn<int>("storedAfterOk");
    QTest::newRow("off by default") << 0 << "aus" << 0.0 << 0;
    QTest::newRow("hundredths kept") << 875 << "8,75 Sek." << 8.75 << 875;
    QTest::newRow("a bounce's 0,12 chosen") << 0 << "aus" << 0.12 << 12;
    QTest::newRow("switched off again") << 500 << "5,00 Sek." << 0.0 << 0;
}

void TestCfgDialog::minimumTimeTransfer()
{
    QFETCH(int, stored);
    QFETCH(QString, shown);
    QFETCH(double, chosen);
    QFETCH(int, storedAfterOk);
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TCfgDialog dialog(Com1AndCom3);
    dialog.seMindestzeit->setLocale(QLocale());
    TStoredSettings settings;
    settings.Mindestzeit = stored;
    dialog.Fill(settings);
    QCOMPARE(dialog.seMindestzeit->text(), shown);
    dialog.seMindestzeit->setValue(chosen);
    dialog.ApplyTo(settings);
    QCOMPARE(settings.Mindestzeit, storedAfterOk);
    QLocale::setDefault(before);
}

void TestCfgDialog::okAndCancelResults()
{
    TCfgDialog dialog(Com1AndCom3);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!dialog.isVisible());

    dialog.show();
    QTest::mouseClick(dialog.CancelBtn, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(rejected.count(), 1);

    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(rejected.count(), 2);
}

void TestCfgDialog::startStationFieldsTransfer()
{
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings = WithPort(0);
    settings.StartplatzSchluessel = QStringLiteral("ABCDEFGHJKLMNPQR");
    settings.ZielAdresse = QStringLiteral("192.168.1.20:47110");
    dialog.Fill(settings);
    QCOMPARE(dialog.edStartplatzSchluessel->text(), QStringLiteral("ABCD-EFGH-JKLM-NPQR"));
    QVERIFY(HasPixel(dialog.ImageStartplatzCode->pixmap().toImage(), qRgb(0, 0, 0)));
    dialog.show();
    dialog.layout()->activate();
    const QSize size = dialog.size();
    // Typed as people type a code they read; a port given keeps the code.
    dialog.edStartplatzSchluessel->setText(QStringLiteral("2345 6789 abcd efgh"));
    dialog.seStartplatzPort->setValue(47110);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    dialog.ApplyTo(settings);
    QCOMPARE(settings.StartplatzPort, 47110);
    QCOMPARE(settings.StartplatzSchluessel, QStringLiteral("23456789ABCDEFGH"));
    QCOMPARE(settings.ZielAdresse, QStringLiteral("192.168.1.20:47110"));

    // A finish that listens without a code gets a fresh one to show.
    settings.StartplatzPort = 0;
    settings.StartplatzSchluessel.clear();
    dialog.Fill(settings);
    QVERIFY(dialog.edStartplatzSchluessel->text().isEmpty());
    dialog.seStartplatzPort->setValue(47111);
    QVERIFY(NormalisePairingCode(dialog.edStartplatzSchluessel->text()).error.isEmpty());
    const QString made = dialog.edStartplatzSchluessel->text();
    QTest::mouseClick(dialog.btnNeuerSchluessel, Qt::LeftButton);
    QVERIFY(dialog.edStartplatzSchluessel->text() != made);
    QVERIFY(HasPixel(dialog.ImageStartplatzCode->pixmap().toImage(), qRgb(0, 0, 0)));
    dialog.show();
    dialog.layout()->activate();
    QCOMPARE(dialog.size(), size);
}

void TestCfgDialog::startStationFieldsRefuseUnsoundInput_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("note");
    QTest::newRow("a letter the code never has") << "ABCD-EFGH-JKLM-NPQO"
                                                 << ""
                                                 << "Der Schlüssel enthält „O“";
    QTest::newRow("a code too short") << "ABCD-EFGH"
                                      << ""
                                      << "Der Schlüssel ist unvollständig: 8 von 16";
    QTest::newRow("an address without port") << ""
                                             << "192.168.1.20"
                                             << "Die Zieladresse braucht die Form Adresse:Port";
    QTest::newRow("a name instead of an address") << ""
                                                  << "ziel:47110"
                                                  << "„ziel“ ist keine IP-Adresse des Ziel-Laptops";
}

void TestCfgDialog::startStationFieldsRefuseUnsoundInput()
{
    QFETCH(QString, code);
    QFETCH(QString, address);
    QFETCH(QString, note);
    TCfgDialog dialog(Com1AndCom3);
    TStoredSettings settings = WithPort(0);
    settings.StartplatzSchluessel = QStringLiteral("ABCDEFGHJKLMNPQR");
    settings.ZielAdresse = QStringLiteral("10.0.0.2:5000");
    dialog.Fill(settings);
    dialog.show();
    dialog.layout()->activate();
    const QSize size = dialog.size();
    dialog.edStartplatzSchluessel->setText(code);
    dialog.edZielAdresse->setText(address);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    // Refused: the dialog stays, says why in German, and keeps its size.
    QVERIFY(dialog.isVisible());
    QVERIFY2(dialog.LabelStartplatzFehler->text().startsWith(note),
             qPrintable(dialog.LabelStartplatzFehler->text()));
    dialog.layout()->activate();
    QCOMPARE(dialog.size(), size);
    // Mended, it is taken.
    dialog.edStartplatzSchluessel->setText(QStringLiteral("abcd efgh jklm npqr"));
    dialog.edZielAdresse->setText(QStringLiteral("[fe80::1]:5000"));
    QVERIFY(dialog.LabelStartplatzFehler->text().isEmpty());
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    dialog.ApplyTo(settings);
    QCOMPARE(settings.StartplatzSchluessel, QStringLiteral("ABCDEFGHJKLMNPQR"));
    QCOMPARE(settings.ZielAdresse, QStringLiteral("[fe80::1]:5000"));
}

void TestCfgDialog::contactPictures()
{
    const QImage closed = TCfgDialog::ContactPicture(true).toImage();
    const QImage open = TCfgDialog::ContactPicture(false).toImage();
    QCOMPARE(closed.size(), QSize(41, 16));
    QCOMPARE(open.size(), QSize(41, 16));
    // The closed contact's line runs between the dots; the open one's blade is lifted.
    QCOMPARE(closed.pixel(20, 10) & 0xFFFFFF, QRgb(0xFF0000));
    QCOMPARE(qAlpha(open.pixel(20, 10)), 0);
    QVERIFY(HasPixel(open, qRgb(128, 128, 128)));
    QVERIFY(!HasPixel(open, qRgb(255, 0, 0)));
}

void TestCfgDialog::drawItemGeometry()
{
    const QRect item(10, 32, 90, 16);
    QCOMPARE(TCfgDialog::ContactPictureOrigin(item), QPoint(30, 32));
    QCOMPARE(TCfgDialog::ItemTextOrigin(item), QPoint(11, 33));
}

void TestCfgDialog::drawItemPicturesAndText()
{
    TCfgDialog dialog(Com1AndCom3);
    dialog.Fill(WithPort(1));
    const auto draw = [&](TCfgContactList* list, int index, bool disabled, QColor* pen = nullptr) {
        QImage image(80, 16, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        dialog.cbAlg1DrawItem(list, &painter, index, image.rect(), false, disabled);
        if (pen)
            *pen = painter.pen().color();
        return image;
    };
    // The closed contact's line crosses x = 40 (picture origin 20 + 20).
    QCOMPARE(draw(dialog.cbAlg1, 0, false).pixel(40, 10) & 0xFFFFFF, QRgb(0xFF0000));
    QVERIFY(!HasPixel(draw(dialog.cbAlg1, 0, true), qRgb(255, 0, 0)));
    QVERIFY(!HasPixel(draw(dialog.cbAlg2, 1, false), qRgb(255, 0, 0)));
    QVERIFY(HasPixel(draw(dialog.cbAlg2, 1, false), qRgb(128, 128, 128)));

    // Lane 2's list is grey exactly when it is disabled, as the others.
    for (const bool disabled : {false, true}) {
        QColor lane1Pen;
        QColor lane2Pen;
        draw(dialog.cbAlg2, 0, disabled, &lane1Pen);
        draw(dialog.cbAlg3, 0, disabled, &lane2Pen);
        QCOMPARE(lane2Pen, lane1Pen);
    }
}

void TestCfgDialog::closedListShowsPicture()
{
    TCfgDialog dialog(Com1AndCom3);
    dialog.Fill(WithPort(1));
    dialog.show();
    QVERIFY(dialog.cbAlg1->isEnabled());
    QVERIFY(HasPixel(dialog.cbAlg1->grab().toImage(), qRgb(255, 0, 0)));
    dialog.Fill(WithPort(0));
    dialog.FormShow();
    QVERIFY(!dialog.cbAlg1->isEnabled());
    QVERIFY(!HasPixel(dialog.cbAlg1->grab().toImage(), qRgb(255, 0, 0)));
}

QTEST_MAIN(TestCfgDialog)
#include "tst_cfgdialog.moc"
