#include "TFormMain.h"

#include "LiveServer.h"
#include "StartLinkPort.h"

#include "BarrierPictures.h"
#include "Dialogs.h"
#include "HelpWindow.h"
#include "KeyPressTicks.h"
#include "OfficeClasses.h"
#include "PrintDialogs.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "SessionJournal.h"
#include "RunTime.h"
#include "SerialPorts.h"
#include "SortCompare.h"
#include "StartupTrace.h"
#include "TBitBtnWithColor.h"
#include "TCfgDialog.h"
#include "TClickLabel.h"
#include "TComPort.h"
#include "TDigit.h"
#include "TSortGrid.h"
#include "TStatusBar.h"
#include "TickSource.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPrinter>
#include <QSoundEffect>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

namespace {

constexpr TColor kDarkGrey = RGBColor(64, 64, 64);

constexpr int kDigitWidth = 45;
constexpr int kDigitHeight = 89;
constexpr std::array<int, 5> kDigitX = {8, 56, 104, 184, 232};
constexpr int kDigitPanelWidth = 285;
constexpr int kOneLaneCentreWidth = 260;
const QString kProtocolTitle = QStringLiteral("P R O T O K O L L");

void SetPanelColor(QWidget* panel, const QColor& color)
{
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, color);
    panel->setPalette(palette);
}

QToolButton* CreateToolButton(QWidget* parent, const QString& caption, const QString& hint,
                              QStyle::StandardPixmap icon = QStyle::StandardPixmap(-1))
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    if (icon != QStyle::StandardPixmap(-1)) {
        button->setIcon(parent->style()->standardIcon(icon));
        button->setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    }
    return button;
}

TBitBtnWithColor* CreateCommandButton(QWidget* parent, const QString& caption, const QString& hint)
{
    auto* button = new TBitBtnWithColor(parent);
    button->setText(caption);
    button->setToolTip(hint);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(20);
    button->setFont(font);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, Qt::white);
    button->setPalette(palette);
    button->setAutoDefault(true);
    button->setMinimumHeight(34);
    return button;
}

// A lane list may hold 100,000 starters: its size must not come from
// measuring every entry, and its open list takes one row height for all.
void SizeListForLongLists(QComboBox* list)
{
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setMinimumContentsLength(20);
    if (auto* view = qobject_cast<QListView*>(list->view()))
        view->setUniformItemSizes(true);
}

QLabel* CreateBarrierImage(QWidget* parent, const QString& hint)
{
    auto* image = new QLabel(parent);
    image->setFixedSize(32, 32);
    image->setToolTip(hint);
    image->setProperty("hint", hint);
    image->setCursor(Qt::PointingHandCursor);
    image->setProperty("tag", 0);
    image->setPixmap(BarrierPicture(0));
    image->hide();
    return image;
}

} // namespace

namespace {

// The windows' stand-ins in the order the windows were made: a test may make
// the next window before the last one has gone.
std::vector<const TInstalledSeams*>& LiveSeams()
{
    static std::vector<const TInstalledSeams*> live;
    return live;
}

} // namespace

TInstalledSeams::TInstalledSeams(const TSystemAccess& access)
    : m_ticks(access.Ticks), m_dialogs(access.Dialogs), m_printDialogs(access.PrintDialogs)
{
    LiveSeams().push_back(this);
    if (m_ticks)
        SetTickSource(m_ticks);
    if (m_dialogs)
        SetDialogs(m_dialogs);
    if (m_printDialogs)
        SetPrintDialogs(m_printDialogs);
}

TInstalledSeams::~TInstalledSeams()
{
    std::erase(LiveSeams(), this);
    // Each kind goes back to the newest one a live window brought, or the system's.
    const auto newest = []<typename Seam>(Seam* TInstalledSeams::*member) -> Seam* {
        for (auto it = LiveSeams().rbegin(); it != LiveSeams().rend(); ++it)
            if ((*it)->*member)
                return (*it)->*member;
        return nullptr;
    };
    if (m_ticks)
        SetTickSource(newest(&TInstalledSeams::m_ticks));
    if (m_dialogs)
        SetDialogs(newest(&TInstalledSeams::m_dialogs));
    if (m_printDialogs)
        SetPrintDialogs(newest(&TInstalledSeams::m_printDialogs));
}

TFormMain::TFormMain(TSystemAccess access, QWidget* parent)
    : QMainWindow(parent), m_seams(access), m_access(std::move(access))
{
    resize(802, 445);
    setMinimumHeight(445);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);

    CreateTopBar(central);
    CreateTimerArea(central);
    CreateProtocolTitle(central);
    CreateProtocolGrid(central);
    column->addWidget(PanelTop);
    column->addWidget(PanelTimer);
    column->addWidget(PanelTitle);
    column->addWidget(SortGrid1, 1);

    StatusBar1 = new TStatusBar(this);
    setStatusBar(StatusBar1);
    StatusPanel0 = new QLabel(this);
    // Room for the longest counter a list may need, so that the texts beside it stay put.
    StatusPanel0->setFixedWidth(
        StatusPanel0->fontMetrics().horizontalAdvance(RowCounterText(100000, 100000)) + 12);
    StatusPanel0->setAlignment(Qt::AlignCenter);
    StatusPanel1 = new QLabel(QStringLiteral("Tarnvik Zeitmessung"), this);
    StatusPanel2 = new QLabel(QStringLiteral("Seifenkistenrennen"), this);
    StatusBar1->AddPanel(StatusPanel0);
    StatusBar1->AddPanel(StatusPanel1);
    StatusBar1->AddPanel(StatusPanel2, 1);

    Clock = new QTimer(this);
    Clock->setInterval(10);
    Clock->setTimerType(Qt::PreciseTimer);
    connect(Clock, &QTimer::timeout, this, &TFormMain::ClockTimer);
    TimerDate = new QTimer(this);
    TimerDate->setInterval(5000);
    connect(TimerDate, &QTimer::timeout, this, &TFormMain::TimerDateTimer);
    TimerDate->start();
    TimerGesperrtStart = &m_session.LockTimer();
    TimerSaveBounds = new QTimer(this);
    TimerSaveBounds->setSingleShot(true);
    TimerSaveBounds->setInterval(1000);
    connect(TimerSaveBounds, &QTimer::timeout, this, &TFormMain::WriteStoredSettings);

    CreateHiddenMenu();
    ConnectHelpCommands();
    CreateComPort(m_access.DeviceFactory);
    ConnectSession();
    CreateJournal();
    // An edit in place is a command to the session as the grid takes it (an
    // edited time is the operator's own: its mark goes).
    SortGrid1->OnSetEditText = [this](int col, int row, const QString& text) {
        SetProtocolCell(col, row, text);
    };

    FormCreate();
    CreateLive();
    CreateStartLink();
}

TFormMain::~TFormMain()
{
    FormDestroy();
    // The grid, a child, outlives the session it reads its cells from.
    SortGrid1->SetRowSource(-1, {});
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // The operator's first step is loading a starter list. (The last start-up step:
    // the button has its place on the screen only once the window is shown.)
    QCursor::setPos(sbLoad->mapToGlobal(QPoint(16, 16)));
    TraceStep(QStringLiteral("FormCreate.21"), QStringLiteral("Mauszeiger auf sbLoad"));
}

// ---------------------------------------------------------------------------
// Construction

void TFormMain::CreateTopBar(QWidget* parent)
{
    PanelTop = new QWidget(parent);
    PanelTop->setFixedHeight(85);
    auto* column = new QVBoxLayout(PanelTop);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(4, 2, 0, 2);
    bHelp = CreateToolButton(PanelTop, QStringLiteral("&Hilfe"), QStringLiteral("[F1]"));
    bHelp->setEnabled(false);
    bCFG = CreateToolButton(PanelTop, QStringLiteral("&Einstellungen"), QStringLiteral("[F2]"));
    bInfo = CreateToolButton(PanelTop, QStringLiteral("&Info"), QStringLiteral("[F3]"));
    bTafel = CreateToolButton(PanelTop, QStringLiteral("&Tafel"),
                              QStringLiteral("[F6] Anzeigetafel für die Zuschauer"));
    // Beside the program's commands, not among the protocol tools: those fill
    // the smallest window already.
    sbLateEntry = CreateToolButton(PanelTop, QStringLiteral("&Nachmelden"),
                                   QStringLiteral("[Strg+N] Starter nachmelden"));
    sbLateEntry->setIcon(QIcon(QStringLiteral(":/images/LATEENTRY.svg")));
    sbLateEntry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sbLateEntry->setEnabled(false);
    connect(sbLateEntry, &QToolButton::clicked, this, &TFormMain::mLateEntryClick);
    QWidget* logo = CreateLogo(PanelTop);
    PanelDate = new QLabel(QStringLiteral("00:00"), PanelTop);
    PanelDate->setFixedWidth(222);
    PanelDate->setAlignment(Qt::AlignCenter);
    SetPanelColor(PanelDate, Qt::black);
    QPalette datePalette = PanelDate->palette();
    datePalette.setColor(QPalette::WindowText, QColor(192, 192, 192));
    PanelDate->setPalette(datePalette);
    buttons->addWidget(bHelp);
    buttons->addWidget(bCFG);
    buttons->addWidget(bInfo);
    buttons->addWidget(bTafel);
    buttons->addWidget(sbLateEntry);
    buttons->addStretch(1);
    buttons->addWidget(logo);
    buttons->addStretch(1);
    buttons->addWidget(PanelDate);
    column->addLayout(buttons, 1);

    CreateLaneBar(PanelTop);
    column->addWidget(Panel);
}

void TFormMain::CreateLaneBar(QWidget* parent)
{
    Panel = new QFrame(parent);
    Panel->setFixedHeight(53);
    SetPanelColor(Panel, QColor(64, 64, 64));
    Panel->installEventFilter(this);
    auto* row = new QHBoxLayout(Panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    QPalette light = Panel->palette();
    light.setColor(QPalette::WindowText, Qt::white);

    PanelLL = new QWidget(Panel);
    auto* left = new QHBoxLayout(PanelLL);
    left->setContentsMargins(6, 0, 6, 0);
    sbLoad = CreateToolButton(PanelLL, QString(), QStringLiteral("[Ctrl+O] Starterliste öffnen"),
                              QStyle::SP_DialogOpenButton);
    sbLoad->setIconSize(QSize(24, 24));
    Label4 = new QLabel(QStringLiteral("Laufbahn 1:"), PanelLL);
    Label4->setPalette(light);
    cbBuhn1 = new QComboBox(PanelLL);
    cbBuhn1->setMaxVisibleItems(20);
    cbBuhn1->setMinimumWidth(294);
    cbBuhn1->setEnabled(false);
    SizeListForLongLists(cbBuhn1);
    left->addWidget(sbLoad);
    left->addWidget(Label4);
    left->addWidget(cbBuhn1, 1);

    auto* centre = new QWidget(Panel);
    auto* middle = new QHBoxLayout(centre);
    middle->setContentsMargins(0, 0, 0, 0);
    seObmen = CreateToolButton(centre, QStringLiteral("<  >"), QStringLiteral("Laufbahn wechseln"));
    seObmen->setEnabled(false);
    middle->addWidget(seObmen, 0, Qt::AlignCenter);

    PanelRR = new QWidget(Panel);
    auto* right = new QHBoxLayout(PanelRR);
    right->setContentsMargins(6, 0, 6, 0);
    Label7 = new QLabel(QStringLiteral("Laufbahn 2:"), PanelRR);
    Label7->setPalette(light);
    cbBuhn2 = new QComboBox(PanelRR);
    cbBuhn2->setMaxVisibleItems(20);
    cbBuhn2->setEnabled(false);
    SizeListForLongLists(cbBuhn2);
    right->addWidget(Label7);
    right->addWidget(cbBuhn2, 1);

    row->addWidget(PanelLL);
    row->addWidget(centre, 1);
    row->addWidget(PanelRR);

    connect(cbBuhn1, &QComboBox::currentIndexChanged, this, &TFormMain::cbBuhnChange);
    connect(cbBuhn2, &QComboBox::currentIndexChanged, this, &TFormMain::cbBuhnChange);
    connect(seObmen, &QToolButton::clicked, this, &TFormMain::seObmenClick);
}

QFrame* TFormMain::CreateDigitPanel(QWidget* parent, std::array<TDigit*, 5>& digits)
{
    auto* panel = new QFrame(parent);
    panel->setFixedWidth(kDigitPanelWidth);
    SetPanelColor(panel, Qt::black);
    for (int i = 0; i < 5; ++i) {
        auto* digit = new TDigit(panel);
        digit->setGeometry(kDigitX.at(i), 11, kDigitWidth, kDigitHeight);
        digit->SetColor(clBlack);
        digit->SetColorOff(clBlack);
        digit->SetThickness(5);
        digit->SetSeparation(1);
        digit->SetColorOn(i < 2 ? kDarkGrey : clYellow);
        digits.at(i) = digit;
    }
    QPalette yellow = panel->palette();
    yellow.setColor(QPalette::WindowText, QColor(255, 255, 0));
    auto* comma = new QLabel(QStringLiteral(","), panel);
    comma->setObjectName(QStringLiteral("comma")); // hidden while the digits say "EL"
    QFont commaFont(QStringLiteral("Arial"));
    commaFont.setPixelSize(48);
    commaFont.setBold(true);
    comma->setFont(commaFont);
    comma->setPalette(yellow);
    comma->setGeometry(152, 50, 28, 56);
    auto* seconds = new QLabel(QStringLiteral("Sek."), panel);
    seconds->setPalette(yellow);
    seconds->setGeometry(56, 102, 90, 18);
    seconds->setAlignment(Qt::AlignCenter);
    auto* hundredths = new QLabel(QStringLiteral("100"), panel);
    hundredths->setObjectName(QStringLiteral("hundredths"));
    hundredths->setPalette(yellow);
    hundredths->setGeometry(184, 102, 93, 18);
    hundredths->setAlignment(Qt::AlignCenter);
    return panel;
}

// A lane's finish barrier image over its STOPP button, at the outer edge of
// the lane's side.
QWidget* TFormMain::CreateLaneStopPanel(QWidget* parent, int lane, QLabel*& image, TBitBtnWithColor*& button)
{
    auto* panel = new QWidget(parent);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(lane == 1 ? 3 : 0, 0, lane == 1 ? 0 : 3, 0);
    column->setSpacing(2);
    image = CreateBarrierImage(panel, lane == 1 ? QStringLiteral("[F11] Lichtschranke Ein / Aus")
                                                : QStringLiteral("[F12] Lichtschranke Ein / Aus"));
    button = CreateCommandButton(panel, QStringLiteral("STOPP %1").arg(lane),
                                 lane == 1 ? QStringLiteral("[F8]") : QStringLiteral("[F9]"));
    column->addWidget(image, 0, lane == 1 ? Qt::Alignment() : Qt::AlignRight);
    column->addWidget(button);
    return panel;
}

void TFormMain::CreateTimerArea(QWidget* parent)
{
    PanelTimer = new QFrame(parent);
    PanelTimer->setFixedHeight(136);
    SetPanelColor(PanelTimer, Qt::black);
    auto* row = new QHBoxLayout(PanelTimer);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    PanelT1 = CreateDigitPanel(PanelTimer, Digit1);

    Panel7 = new QFrame(PanelTimer);
    SetPanelColor(Panel7, Qt::black);
    Panel7->installEventFilter(this);
    auto* centre = new QVBoxLayout(Panel7);
    centre->setContentsMargins(0, 4, 0, 4);
    centre->setSpacing(4);

    Panel5 = new QWidget(Panel7);
    auto* startRow = new QHBoxLayout(Panel5);
    startRow->setContentsMargins(3, 0, 3, 0);
    ImageLSstart = CreateBarrierImage(Panel5, QStringLiteral("[F4] Lichtschranke Ein / Aus"));
    bSTART = CreateCommandButton(Panel5, QStringLiteral("START"), QStringLiteral("[F5]"));
    startRow->addWidget(ImageLSstart);
    startRow->addWidget(bSTART, 1);

    auto* stops = new QHBoxLayout;
    stops->setContentsMargins(0, 0, 0, 0);
    stops->setSpacing(4);
    PanelLE = CreateLaneStopPanel(Panel7, 1, ImageLS1, bSTOP1);
    PanelRI = CreateLaneStopPanel(Panel7, 2, ImageLS2, bSTOP2);
    stops->addWidget(PanelLE);
    stops->addWidget(PanelRI);
    centre->addWidget(Panel5);
    centre->addLayout(stops);

    PanelTTT2 = new QFrame(PanelTimer);
    SetPanelColor(PanelTTT2, QColor(64, 64, 64));
    auto* filler = new QHBoxLayout(PanelTTT2);
    filler->setContentsMargins(0, 0, 0, 0);
    PanelT2 = CreateDigitPanel(PanelTTT2, Digit2);
    filler->addStretch(1);
    filler->addWidget(PanelT2);

    row->addWidget(PanelT1);
    row->addWidget(Panel7, 1);
    row->addWidget(PanelTTT2);

    bSTOP1->setProperty("tag", 0);
    bSTOP2->setProperty("tag", 1);
    for (QWidget* w : {static_cast<QWidget*>(bSTART), static_cast<QWidget*>(bSTOP1),
                       static_cast<QWidget*>(bSTOP2), static_cast<QWidget*>(ImageLSstart),
                       static_cast<QWidget*>(ImageLS1), static_cast<QWidget*>(ImageLS2)})
        w->installEventFilter(this);
    bSTOP1->setEnabled(false);
    bSTOP2->setEnabled(false);
}

void TFormMain::CreateProtocolTitle(QWidget* parent)
{
    PanelTitle = new QFrame(parent);
    PanelTitle->setFixedHeight(42);
    PanelTitle->setMinimumWidth(792);
    PanelTitle->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(PanelTitle);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);

    sbSave = CreateToolButton(PanelTitle, QString(), QStringLiteral("[Ctrl+S] Protokoll speichern unter"),
                              QStyle::SP_DialogSaveButton);
    sbCLS = CreateToolButton(PanelTitle, QString(), QStringLiteral("Zeile entfernen"), QStyle::SP_TrashIcon);
    sbCLSall = CreateToolButton(PanelTitle, QString(), QStringLiteral("Protokoll  löschen"),
                                QStyle::SP_DialogDiscardButton);
    cbEditON = new QCheckBox(PanelTitle);
    labEditON = new TClickLabel(QStringLiteral("nderungen vornehmen"), PanelTitle);
    sb1 = CreateToolButton(PanelTitle, QStringLiteral("1"),
                           QStringLiteral("Laufbahn 1. Aus dem Protokoll zu nehmen"), QStyle::SP_ArrowUp);
    sb1del = CreateToolButton(PanelTitle, QStringLiteral("1"), QStringLiteral("Eliminieren Laufbahn 1."),
                              QStyle::SP_DialogCancelButton);
    bRESET = CreateCommandButton(PanelTitle, QStringLiteral("0,00"), QStringLiteral("[F7]"));
    bRESET->setMaximumWidth(130);
    bRESET->setMinimumHeight(30);
    sb2del = CreateToolButton(PanelTitle, QStringLiteral("2"), QStringLiteral("Eliminieren Laufbahn 2."),
                              QStyle::SP_DialogCancelButton);
    sb2 = CreateToolButton(PanelTitle, QStringLiteral("2"),
                           QStringLiteral("Laufbahn 2. Aus dem Protokoll zu nehmen"), QStyle::SP_ArrowUp);
    cbSort = new QCheckBox(PanelTitle);
    cbSort->setToolTip(QStringLiteral("Sort vis Platz"));
    LabelSort = new TClickLabel(QStringLiteral("Sort"), PanelTitle);
    auto* title = new QLabel(kProtocolTitle, PanelTitle);
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    // The tools' captions come first: the title takes what room is left and
    // shortens itself (FitProtocolTitle) instead of pushing into "Sort".
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    title->installEventFilter(this);
    LabelTitle = title;
    for (QWidget* caption : std::initializer_list<QWidget*>{labEditON, LabelSort})
        caption->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    sbPrint = CreateToolButton(PanelTitle, QStringLiteral("Druck"), QStringLiteral("Protokoll drucken"));
    sbResults = CreateToolButton(PanelTitle, QStringLiteral("Liste"),
                                 QStringLiteral("Ergebnisliste nach Klassen (Strg+E)"));
    sbWord = CreateToolButton(PanelTitle, QStringLiteral("W"), QStringLiteral("Datei in MS Word"));
    sbExcel = CreateToolButton(PanelTitle, QStringLiteral("X"), QStringLiteral("Datei in MS Excel"));
    sbInet = CreateToolButton(PanelTitle, QStringLiteral("www"), QStringLiteral("Als Webseite"));

    for (QWidget* w :
         std::initializer_list<QWidget*>{sbSave, sbCLS, sbCLSall, cbEditON, labEditON, sb1, sb1del})
        row->addWidget(w);
    row->addWidget(bRESET, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{sb2del, sb2, cbSort, LabelSort})
        row->addWidget(w);
    row->addSpacing(4); // "Sort" and the title apart
    row->addWidget(title, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{sbPrint, sbResults, sbWord, sbExcel, sbInet})
        row->addWidget(w);
    for (QWidget* w : std::initializer_list<QWidget*>{sbSave, sbCLS, sbCLSall, cbEditON, labEditON, sb1,
                                                      sb1del, sb2del, sb2, cbSort, LabelSort, sbPrint,
                                                      sbResults, sbWord, sbExcel, sbInet, bRESET})
        w->setEnabled(false);

    sb1->setProperty("tag", 1);
    sb2->setProperty("tag", 2);
    sb1del->setProperty("tag", 0);
    sb2del->setProperty("tag", 1);
    sbCLS->setProperty("tag", 0);
    sbCLSall->setProperty("tag", 1);
    connect(sb1, &QToolButton::clicked, this, [this] { sb1Click(1); });
    connect(sb2, &QToolButton::clicked, this, [this] { sb1Click(2); });
    connect(sb1del, &QToolButton::clicked, this, [this] { sb1delClick(0); });
    connect(sb2del, &QToolButton::clicked, this, [this] { sb1delClick(1); });
    connect(sbCLS, &QToolButton::clicked, this, [this] { sbCLSClick(0); });
    connect(sbCLSall, &QToolButton::clicked, this, [this] { sbCLSClick(1); });
    sbInet->setProperty("tag", 0);
    sbPrint->setProperty("tag", 1);
    connect(sbInet, &QToolButton::clicked, this, [this] { sbInetClick(0); });
    connect(sbPrint, &QToolButton::clicked, this, [this] { sbInetClick(1); });
    connect(cbSort, &QCheckBox::clicked, this, &TFormMain::cbSortClick);
    connect(cbEditON, &QCheckBox::clicked, this, &TFormMain::cbEditONClick);
    connect(labEditON, &TClickLabel::clicked, this, &TFormMain::labEditONClick);
    bRESET->installEventFilter(this);
}

void TFormMain::CreateProtocolGrid(QWidget* parent)
{
    SortGrid1 = new TSortGrid(parent);
    SortGrid1->SetColCount(ProtocolColumnCount);
    SortGrid1->SetRowCount(2);
    SortGrid1->SetFixedCols(0);
    SortGrid1->SetFixedRows(1);
    SortGrid1->SetDefaultColWidth(32);
    SortGrid1->SetDefaultRowHeight(20);
    for (int c = 0; c < ColLoadOrder; ++c)
        SortGrid1->SetColWidths(c, 32);
    SortGrid1->SetColWidths(ColLoadOrder, 359);
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(16);
    SortGrid1->setFont(font);
    SortGrid1->SetOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goDrawFocusSelected |
                          goColSizing | goRowSelect);
    SortGrid1->SetScrollBars(ssVertical);
    SortGrid1->SortOptions.CanSort = false;
    SortGrid1->SortOptions.SecondaryIndex = QStringLiteral("11");
    SortGrid1->SortOptions.SortStyle = ssAutomatic;
    SortGrid1->SortOptions.SortCaseSensitive = false;
    SortGrid1->SortOptions.SortCol = ColKlasse;
    SortGrid1->SortOptions.SortDirection = sdAscending;
    SortGrid1->SortOptions.UpdateOnSizeChange = false;
    SortGrid1->SetAlignmentHorz(taLeftJustify);
    SortGrid1->SetAlignmentVert(taMiddle);
    SortGrid1->SetBevelStyle(cbNone);

    SortGrid1->OnGetCellFormat = [this](int col, int row, TGridDrawState, TFormatOptions& format, bool&,
                                        bool&, bool&) { SortGrid1GetCellFormat(col, row, format); };
    SortGrid1->OnGetSortStyle = [this](int col, TSortStyle& style) {
        if (col >= ColLauf1 && col <= ColGesamt) {
            SortGrid1->SortOptions.CustomCompare = CompareRunTimes;
            style = ssCustom;
        } else if (col == ColKlasse) {
            QStringList classNames;
            classNames.reserve(m_results.RowCount());
            for (int i = 0; i < m_results.RowCount(); ++i)
                classNames.append(m_results.Row(i).value(ColKlasse));
            SortGrid1->SortOptions.CustomCompare = ClassCompareFor(classNames);
            style = ssCustom;
        } else if (col == ColNr || col == ColPlatz || col == ColLoadOrder) {
            style = ssNumeric;
        } else {
            style = ssAutomatic;
        }
    };
    SortGrid1->OnSelectCell = [this](int col, int, bool&) { m_lastSelectedCol = col; };
    SortGrid1->OnCellValidate = [this](int col, int, const QString&, QString& newValue, bool& valid) {
        SortGrid1CellValidate(col, newValue, valid);
    };
    connect(SortGrid1, &TSortGrid::OnRowSelected, this, &TFormMain::SortGrid1RowSelected);
    connect(SortGrid1, &TSortGrid::OnDblClick, this, &TFormMain::SortGrid1DblClick);
    SortGrid1->installEventFilter(this);
    SortGrid1->viewport()->installEventFilter(this);
}

void TFormMain::CreateHiddenMenu()
{
    auto add = [this](const QString& caption, const QKeySequence& shortcut) {
        auto* action = new QAction(caption, this);
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        return action;
    };
    mHilfe = add(QStringLiteral("Hilfe"), Qt::Key_F1);
    EinstellunGen1 = add(QStringLiteral("&Einstellungen"), Qt::Key_F2);
    mInfo = add(QStringLiteral("Info"), Qt::Key_F3);
    LockLSstart = add(QStringLiteral("Lock LS start"), Qt::Key_F4);
    mStart = add(QStringLiteral("Start"), Qt::Key_F5);
    mReset = add(QStringLiteral("00:00"), Qt::Key_F7);
    mSTOP1 = add(QStringLiteral("Stop1"), Qt::Key_F8);
    mStop2 = add(QStringLiteral("Stop2"), Qt::Key_F9);
    LockLS1 = add(QStringLiteral("LockLS1"), Qt::Key_F11);
    LockLS21 = add(QStringLiteral("LockLS2"), Qt::Key_F12);
    Open1 = add(QStringLiteral("Open"), QKeySequence(Qt::CTRL | Qt::Key_O));
    Save1 = add(QStringLiteral("Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
    Hilfe1 = add(QStringLiteral("H&ilfe"), QKeySequence(Qt::ALT | Qt::Key_H));
    Drucker1 = add(QStringLiteral("&Drucker"), QKeySequence(Qt::ALT | Qt::Key_D));
    Beenden1 = add(QStringLiteral("&Beenden"), QKeySequence(Qt::ALT | Qt::Key_B));
    mEL1 = add(QStringLiteral("EL1"), QKeySequence(Qt::SHIFT | Qt::Key_F8));
    mEL2 = add(QStringLiteral("EL2"), QKeySequence(Qt::SHIFT | Qt::Key_F9));
    mConfirmTime = add(QStringLiteral("Zeit bestätigen"), QKeySequence(Qt::CTRL | Qt::Key_B));
    mRepeatRun = add(QStringLiteral("Lauf wiederholen"), QKeySequence(Qt::CTRL | Qt::Key_R));
    mLateEntry = add(QStringLiteral("Starter nachmelden"), QKeySequence(Qt::CTRL | Qt::Key_N));
    mTafel = add(QStringLiteral("Anzeigetafel"), Qt::Key_F6);
    mErgebnisliste = add(QStringLiteral("Ergebnisliste"), QKeySequence(Qt::CTRL | Qt::Key_E));
    mErgebnislisteDrucken =
        add(QStringLiteral("Ergebnisliste drucken"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    mUrkunden = add(QStringLiteral("Urkunden"), QKeySequence(Qt::CTRL | Qt::Key_U));

    // A held function key must not repeat a run command.
    for (QAction* command : {mStart, mReset, mSTOP1, mStop2, LockLSstart, LockLS1, LockLS21, mEL1, mEL2})
        command->setAutoRepeat(false);
    mReset->setEnabled(false);
    mSTOP1->setEnabled(false);
    mStop2->setEnabled(false);

    mSTOP1->setProperty("tag", 0);
    mStop2->setProperty("tag", 1);
    // A key's tick is that of its press; a click's is read at once, before anything
    // else that takes time.
    m_keyTicks = std::make_unique<KeyPressTicks>();
    for (QAction* command : {mStart, mSTOP1, mStop2, mEL1, mEL2})
        m_keyTicks->Watch(command);
    connect(mStart, &QAction::triggered, this, [this] { mStartClick(CommandTick(false)); });
    connect(mSTOP1, &QAction::triggered, this, [this] { mSTOPClick(0, CommandTick(true)); });
    connect(mStop2, &QAction::triggered, this, [this] { mSTOPClick(1, CommandTick(true)); });
    connect(mReset, &QAction::triggered, this, &TFormMain::mResetClick);
    connect(mEL1, &QAction::triggered, this, [this] { mELClick(0, CommandTick(true)); });
    connect(mEL2, &QAction::triggered, this, [this] { mELClick(1, CommandTick(true)); });
    connect(mConfirmTime, &QAction::triggered, this, &TFormMain::mConfirmTimeClick);
    connect(mRepeatRun, &QAction::triggered, this, &TFormMain::mRepeatRunClick);
    connect(mLateEntry, &QAction::triggered, this, &TFormMain::mLateEntryClick);
    connect(LockLSstart, &QAction::triggered, this, [this] { ImageLSClick(ImageLSstart); });
    connect(LockLS1, &QAction::triggered, this, [this] { ImageLSClick(ImageLS1); });
    connect(LockLS21, &QAction::triggered, this, [this] { ImageLSClick(ImageLS2); });
    connect(Beenden1, &QAction::triggered, this, &QWidget::close);
    connect(EinstellunGen1, &QAction::triggered, this, [this] {
        // As Strg+O: the key says why it does nothing during a run.
        if (!RunIdle())
            statusBar()->showMessage(
                QStringLiteral("Einstellungen sind während eines Laufs gesperrt – erst nach „0,00“."), 8000);
        bCFGClick();
    });
    connect(Open1, &QAction::triggered, this, [this] {
        // The key must not fail silently while the load button is locked.
        if (!RunIdle())
            statusBar()->showMessage(LoadRefusedMessage, 8000);
        sbLoadClick();
    });
    connect(Save1, &QAction::triggered, this, &TFormMain::sbSaveClick);
    connect(Drucker1, &QAction::triggered, this, &TFormMain::Drucker1Click);
    connect(mErgebnisliste, &QAction::triggered, this, &TFormMain::mErgebnislisteClick);
    connect(mUrkunden, &QAction::triggered, this, &TFormMain::mUrkundenClick);
    connect(mErgebnislisteDrucken, &QAction::triggered, this, &TFormMain::mErgebnislisteDruckenClick);
    connect(sbResults, &QToolButton::clicked, this, [this] { mErgebnisliste->trigger(); });
    // The button's menu: the list as a file (its click) or on the printer.
    auto* resultsMenu = new QMenu(sbResults);
    resultsMenu->addAction(QStringLiteral("Als Datei speichern …\tStrg+E"), mErgebnisliste,
                           &QAction::trigger);
    resultsMenu->addAction(QStringLiteral("Drucken …\tStrg+Umschalt+E"), mErgebnislisteDrucken,
                           &QAction::trigger);
    sbResults->setMenu(resultsMenu);
    sbResults->setPopupMode(QToolButton::MenuButtonPopup);
    connect(sbLoad, &QToolButton::clicked, this, &TFormMain::sbLoadClick);
    connect(sbSave, &QToolButton::clicked, this, &TFormMain::sbSaveClick);
    connect(bCFG, &QToolButton::clicked, this, &TFormMain::bCFGClick);

    // Keyboard activation of a focused command button arrives as its click.
    connect(bSTART, &QPushButton::clicked, this, [this] { TriggerCommand(mStart); });
    connect(bSTOP1, &QPushButton::clicked, this, [this] { TriggerCommand(mSTOP1); });
    connect(bSTOP2, &QPushButton::clicked, this, [this] { TriggerCommand(mStop2); });
    connect(bRESET, &QPushButton::clicked, this, [this] { TriggerCommand(mReset); });
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    // A command that fails inside a mouse or resize handler ends there; the
    // window goes on silently, and no exception reaches Qt's event dispatch.
    try {
        return FilterEvent(watched, event);
    } catch (const std::exception&) {
        return true;
    }
}

bool TFormMain::FilterEvent(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        // The command buttons act on the press, not on the release.
        QAction* command = watched == bSTART   ? mStart
                           : watched == bSTOP1 ? mSTOP1
                           : watched == bSTOP2 ? mStop2
                           : watched == bRESET ? mReset
                                               : nullptr;
        if (command) {
            if (static_cast<QWidget*>(watched)->isEnabled())
                TriggerCommand(command);
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        // A held Enter or space bar repeats: each repeat would take the next
        // command (focus moves on), and a whole run after run would be timed
        // at the key's repeat rate. As with the function keys, only the first
        // press of a held key acts.
        const bool commandButton =
            watched == bSTART || watched == bSTOP1 || watched == bSTOP2 || watched == bRESET;
        if (commandButton && static_cast<QKeyEvent*>(event)->isAutoRepeat())
            return true;
    } else if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == ImageLSstart || watched == ImageLS1 || watched == ImageLS2) {
            ImageLSClick(static_cast<QLabel*>(watched));
            return true;
        }
    } else if (event->type() == QEvent::Resize) {
        if (watched == Panel)
            PanelResize();
        else if (watched == Panel7)
            Panel7Resize();
        else if (watched == LabelTitle)
            FitProtocolTitle();
        else if (watched == SortGrid1 || watched == SortGrid1->viewport())
            // The grid widens its last column when it is resized; the protocol's
            // column widths are laid out again once it has done so. The viewport
            // also narrows without the window changing: when the first show
            // lays the grid out, and when a list brings the scroll bar.
            QTimer::singleShot(0, this, &TFormMain::FormResize);
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Window

bool TFormMain::StartAvailable() const
{
    return m_session.StartAvailable();
}

bool TFormMain::HasProtocol() const
{
    return !ProtocolCell(ColNr, 1).isEmpty();
}

bool TFormMain::OfficeExportAvailable(bool word) const
{
    return HasProtocol() && !m_officeBusy && OleClassAvailable(QStringLiteral("Excel.Application")) &&
           (!word || QFileInfo::exists(WordTemplatePath));
}

void TFormMain::UpdateCommandStates()
{
    const bool idle = RunIdle();
    const int starters = int(m_session.StartOrder().size());
    const bool resetDue = m_run.CanReset();
    const bool startAvailable = StartAvailable();
    const bool hasProtocol = HasProtocol();

    // The run commands. mStart is the command's gate and apart from the START
    // button's rule: F5 starts a run without a list (its times are kept apart).
    mStart->setEnabled(idle);
    bSTART->setEnabled(startAvailable);
    UpdateStartBarrierHint();
    SetButtonColor(bSTART, startAvailable ? StartAvailableColor : clBtnFace);
    for (int lane : {1, 2}) {
        const bool running = m_run.LaneRunning(lane);
        StopCommand(lane)->setEnabled(running);
        StopButton(lane)->setEnabled(running);
        SetButtonColor(StopButton(lane), running ? LaneRunningColor : clBtnFace);
        (lane == 1 ? sb1del : sb2del)->setEnabled(m_run.CanEliminate(lane));
    }
    mReset->setEnabled(resetDue);
    bRESET->setEnabled(resetDue);
    SetButtonColor(bRESET, resetDue ? ResetDueColor : clBtnFace);

    // Locked from START until "0,00".
    bCFG->setEnabled(idle);
    sbLoad->setEnabled(idle);
    cbBuhn1->setEnabled(idle && starters >= 1);
    cbBuhn2->setEnabled(idle && starters >= 2);
    sb1->setEnabled(idle && starters > 0);
    sb2->setEnabled(idle && starters > 0);
    seObmen->setEnabled(startAvailable);

    sbSave->setEnabled(hasProtocol);
    sbExcel->setEnabled(OfficeExportAvailable(false));
    sbWord->setEnabled(OfficeExportAvailable(true));
    sbPrint->setEnabled(hasProtocol);
    sbResults->setEnabled(hasProtocol);
    sbInet->setEnabled(hasProtocol);
    cbSort->setEnabled(hasProtocol);
    LabelSort->setEnabled(hasProtocol);
    sbCLS->setEnabled(startAvailable && hasProtocol);
    sbCLSall->setEnabled(startAvailable && hasProtocol);
    sbLateEntry->setEnabled(idle);
    cbEditON->setEnabled(hasProtocol);
    labEditON->setEnabled(hasProtocol);
    // After "< >" every later pair runs reversed until swapped back: the labels say so.
    const bool swapped = m_session.LanesSwapped();
    Label4->setText(swapped ? QStringLiteral("Laufbahn 1 ⇄") : QStringLiteral("Laufbahn 1:"));
    Label7->setText(swapped ? QStringLiteral("Laufbahn 2 ⇄") : QStringLiteral("Laufbahn 2:"));
    const QString why = swapped ? QStringLiteral("Bahnen getauscht: die Paare laufen vertauscht, bis „<  >“ "
                                                 "sie zurücktauscht")
                                : QString();
    Label4->setToolTip(why);
    Label7->setToolTip(why);
}

void TFormMain::ApplyLaneLayout()
{
    const bool twoLanes = Settings.CountBahn > 1;
    for (QWidget* w : std::initializer_list<QWidget*>{Label7, cbBuhn2, seObmen, PanelRI, sb2del, sb2, sb1,
                                                      PanelT2, Label4})
        w->setVisible(twoLanes);
    auto* timerRow = static_cast<QHBoxLayout*>(PanelTimer->layout());
    if (twoLanes) {
        Panel7->setMinimumWidth(0);
        Panel7->setMaximumWidth(QWIDGETSIZE_MAX);
        timerRow->setStretchFactor(Panel7, 1);
        timerRow->setStretchFactor(PanelTTT2, 0);
        PanelTTT2->setFixedWidth(kDigitPanelWidth);
        bSTOP1->setText(QStringLiteral("STOPP 1"));
        sb1del->setText(QStringLiteral("1"));
    } else {
        // The centre keeps its own width; the filler reaches to the right edge.
        Panel7->setFixedWidth(kOneLaneCentreWidth);
        timerRow->setStretchFactor(Panel7, 0);
        timerRow->setStretchFactor(PanelTTT2, 1);
        PanelTTT2->setMinimumWidth(0);
        PanelTTT2->setMaximumWidth(QWIDGETSIZE_MAX);
        // Widths fixed by the two-lane layout would keep STOPP and the lane
        // bar at half size until a restart.
        for (QWidget* half : {PanelLE, PanelRI, PanelRR}) {
            half->setMinimumWidth(0);
            half->setMaximumWidth(QWIDGETSIZE_MAX);
        }
        bSTOP1->setText(QStringLiteral("STOPP"));
        sb1del->setText(QString());
    }
    // The lane bar's parts take their new widths now, so that the bar is
    // divided as at start-up.
    Panel->layout()->activate();
    PanelResize();
    Panel7Resize();
    SortGrid1->InvalidateGrid();
}

void TFormMain::cbBuhnChange()
{
    // The lists are the operator's way to choose; the lanes are the session's.
    m_session.SelectLane(1, cbBuhn1->currentIndex());
    m_session.SelectLane(2, cbBuhn2->currentIndex());
    ShowLanes();
}

void TFormMain::seObmenClick()
{
    m_session.Swap();
}

void TFormMain::TimerDateTimer()
{
    const QLocale locale;
    const QDateTime now = QDateTime::currentDateTime();
    PanelDate->setText(locale.toString(now.date(), QLocale::ShortFormat) + QStringLiteral("   ") +
                       locale.toString(now.time(), QLocale::ShortFormat));
}

void TFormMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
    // A crash must not lose the window's place: written once the dragging has ended.
    if (m_shownOnce && TimerSaveBounds)
        TimerSaveBounds->start();
}

void TFormMain::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (m_shownOnce && TimerSaveBounds)
        TimerSaveBounds->start();
}

int TFormMain::TextColumnNeed(int col) const
{
    // A list may hold 100,000 starters: the widths follow the first rows only,
    // so that resizing the window stays quick.
    constexpr int kMeasuredRows = 2000;
    constexpr int kPadding = 10;
    QFont headerFont = SortGrid1->font();
    headerFont.setPointSize(10);
    int need = QFontMetrics(headerFont).horizontalAdvance(SortGrid1->Cells(col, 0));
    const QFontMetrics metrics(SortGrid1->font());
    const int rows = std::min(SortGrid1->RowCount(), kMeasuredRows + 1);
    for (int row = 1; row < rows; ++row)
        need = std::max(need, metrics.horizontalAdvance(ProtocolCell(col, row)));
    return need + kPadding;
}

bool TFormMain::RunColumnEmpty(int col) const
{
    for (int index = 0; index < m_results.RowCount(); ++index) {
        if (!m_results.Row(index).value(col).trimmed().isEmpty())
            return false;
    }
    return true;
}

void TFormMain::FormResize()
{
    if (!SortGrid1)
        return;
    // Nr., the runs, total and place keep their widths; the text columns share
    // the rest by what their contents need, and room beyond that goes to the names.
    constexpr int run = kRunColumnWidth;
    std::array<int, ProtocolColumnCount> fixedWidths = {47,  0,   0,   0,   0,  run, run,
                                                        run, run, run, run, 76, 42,  -1};
    // A run column beyond the runs of the day, or without times yet, is narrow:
    // the names need the room more. A run's first time widens its column.
    for (int col = ColLauf1; col <= ColLauf6; ++col) {
        if (col - ColLauf1 + 1 > m_session.CurrentRules().allLaufe || RunColumnEmpty(col))
            fixedWidths.at(col) = kNarrowRunColumnWidth;
    }
    constexpr std::array<int, 4> textColumns = {ColName, ColVorname, ColVerein, ColKlasse};
    int others = 0;
    for (int c = 0; c < ProtocolColumnCount; ++c)
        others += fixedWidths.at(c);
    const int room = std::max(0, SortGrid1->viewport()->width() - others - ProtocolColumnCount);

    std::array<int, 4> need{};
    int needSum = 0;
    for (std::size_t i = 0; i < textColumns.size(); ++i) {
        need.at(i) = TextColumnNeed(textColumns.at(i));
        needSum += need.at(i);
    }
    std::array<int, 4> widths{};
    if (room >= needSum) {
        widths = need;
        const int extra = room - needSum;
        widths.at(1) += (extra / 3) * 2; // first name two thirds, family name one third
        widths.at(0) += extra - (extra / 3) * 2;
    } else {
        int given = 0;
        for (std::size_t i = 1; i < widths.size(); ++i) {
            widths.at(i) = int(qint64(room) * need.at(i) / std::max(1, needSum));
            given += widths.at(i);
        }
        widths.at(0) = room - given;
    }
    for (int c = 0; c < ProtocolColumnCount; ++c)
        SortGrid1->SetColWidths(c, fixedWidths.at(c));
    for (std::size_t i = 0; i < textColumns.size(); ++i)
        SortGrid1->SetColWidths(textColumns.at(i), widths.at(i));
}

void TFormMain::FitProtocolTitle()
{
    const QFontMetrics metrics(LabelTitle->font());
    const int room = LabelTitle->contentsRect().width();
    const QString shortTitle = QStringLiteral("PROTOKOLL");
    LabelTitle->setText(metrics.horizontalAdvance(kProtocolTitle) <= room ? kProtocolTitle
                        : metrics.horizontalAdvance(shortTitle) <= room   ? shortTitle
                                                                          : QString());
}

void TFormMain::PanelResize()
{
    if (!Panel)
        return;
    const int barWidth = Panel->width();
    if (Settings.CountBahn > 1) {
        const int half = std::max(0, (barWidth - 130) / 2);
        PanelLL->setFixedWidth(half);
        PanelRR->setFixedWidth(half);
    } else {
        PanelLL->setFixedWidth(std::max(0, barWidth - PanelRR->width()));
    }
}

void TFormMain::Panel7Resize()
{
    if (!Panel7 || Settings.CountBahn < 2)
        return;
    const int half = std::max(0, Panel7->width() / 2 - 2);
    PanelLE->setFixedWidth(half);
    PanelRI->setFixedWidth(half);
}

bool TFormMain::FormCloseQuery()
{
    if (!m_session.Modified())
        return !m_run.Timing() || Dialogs().AskYesNo(this, QStringLiteral("Beenden?"));
    // Unsaved times: saving is offered on the spot rather than left to the
    // next start's restore.
    const QString question =
        m_run.Timing() ? QStringLiteral("Beenden? Ein Lauf wird noch gemessen, und das Protokoll hat "
                                        "ungespeicherte Änderungen.")
                       : QStringLiteral("Beenden? Das Protokoll hat ungespeicherte Änderungen.");
    switch (Dialogs().AskChoice(this, question,
                                {QStringLiteral("Speichern"), QStringLiteral("Beenden ohne Speichern"),
                                 QStringLiteral("Abbrechen")})) {
    case 0:
        sbSaveClick();
        // Ends only once the file holds the protocol; a cancelled or failed save keeps the window.
        return !m_session.Modified();
    case 1:
        return true;
    default:
        return false;
    }
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery()) {
        JournalClosing();
        event->accept();
    } else {
        event->ignore();
    }
}
