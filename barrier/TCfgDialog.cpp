#include "TCfgDialog.h"

#include "QrCode.h"
#include "StartLinkCodec.h"
#include "TColor.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

#include "SerialPorts.h"

namespace {

constexpr int HighestPortBit = 16;
const QString NoPortText = QStringLiteral("Kein");

// Seconds with hundredths, typed with a comma or a point in any locale: both
// mean the decimal mark here (no value is large enough for a group separator).
class TSecondsSpinBox : public QDoubleSpinBox
{
public:
    using QDoubleSpinBox::QDoubleSpinBox;

    QValidator::State validate(QString& text, int& pos) const override
    {
        text = WithLocaleMark(text);
        return QDoubleSpinBox::validate(text, pos);
    }
    double valueFromText(const QString& text) const override
    {
        return QDoubleSpinBox::valueFromText(WithLocaleMark(text));
    }
    void fixup(QString& text) const override
    {
        text = WithLocaleMark(text);
        QDoubleSpinBox::fixup(text);
    }

private:
    QString WithLocaleMark(QString text) const
    {
        // The number only: the suffix " Sek." keeps its point.
        const qsizetype numberEnd = text.endsWith(suffix()) ? text.size() - suffix().size() : text.size();
        const QString mark = locale().decimalPoint();
        for (qsizetype i = 0; i < numberEnd; ++i) {
            if (text.at(i) == u',' || text.at(i) == u'.')
                text.replace(i, 1, mark);
        }
        return text;
    }
};

// Notes beside the barrier lines that never size the dialog: they take the
// height of the lines and are cut where longer.
class TPortNoteLabel : public QLabel
{
public:
    using QLabel::QLabel;

    bool hasHeightForWidth() const override { return false; }
    QSize sizeHint() const override { return {width(), 0}; }
    QSize minimumSizeHint() const override { return {width(), 0}; }
};

} // namespace

TCfgDialog::TCfgDialog(std::uint32_t portsFound, QWidget* parent) : QDialog(parent)
{
    CreateControls();
    FormCreate(portsFound);
}

void TCfgDialog::CreateControls()
{
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    rgBahn =
        new TCfgRadioGroup(QStringLiteral("Bahn/en"), {QStringLiteral("1"), QStringLiteral("2")}, 2, this);
    rgBahn->SetItemIndex(1);
    LabelLaufProbe = new QLabel(this);
    seProbe = new TCfgSpinEdit(0, 5, 2, this);
    LabelLaufALL = new QLabel(this);
    seALL = new TCfgSpinEdit(1, 6, 6, this);
    LabelLaufALL->hide();
    seALL->hide();
    LabelMindestzeit = new QLabel(QStringLiteral("Mindestzeit:"), this);
    seMindestzeit = new TSecondsSpinBox(this);
    seMindestzeit->setDecimals(2);
    seMindestzeit->setRange(0, MaxMindestzeit / 100.0);
    seMindestzeit->setSingleStep(0.5);
    seMindestzeit->setSuffix(QStringLiteral(" Sek."));
    seMindestzeit->setSpecialValueText(QStringLiteral("aus"));
    seMindestzeit->setToolTip(QStringLiteral("Kürzere Zeiten werden markiert und müssen bestätigt werden"));
    LabelMindestzeit->setBuddy(seMindestzeit);

    gbLS = new QGroupBox(QStringLiteral("Lichtschranke(n)"), this);
    Label19 = new QLabel(QStringLiteral("Port:"), gbLS);
    cbPort = new QComboBox(gbLS);
    cbPort->setMaxVisibleItems(20);
    LabelPortNote = new TPortNoteLabel(gbLS);
    LabelPortNote->setWordWrap(true);
    LabelPortNote->setFixedWidth(220);
    // The dialog keeps its size whichever port is chosen: the notes' column
    // stays reserved, and notes longer than the lines beside them are cut
    // (their whole text is the tooltip).
    QSizePolicy notePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    notePolicy.setRetainSizeWhenHidden(true);
    LabelPortNote->setSizePolicy(notePolicy);
    LabelPortNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelPortNote->hide();
    LabelAlgo = new QLabel(QStringLiteral("Algorithmus:"), gbLS);

    const QStringList edges{QStringLiteral("ON"), QStringLiteral("OFF")};
    const auto makeEdgeList = [&](const QString& hint) {
        auto* list = new TCfgContactList(edges, gbLS);
        list->setToolTip(hint);
        list->setCurrentIndex(0);
        list->setEnabled(false);
        connect(list, &TCfgContactList::DrawItem, this,
                [this, list](QPainter* painter, int index, const QRect& rect, bool selected, bool disabled) {
                    cbAlg1DrawItem(list, painter, index, rect, selected, disabled);
                });
        return list;
    };
    Label1 = new QLabel(QStringLiteral("Start (7+8):"), gbLS);
    cbAlg1 = makeEdgeList(QStringLiteral("Kontakt 7+8"));
    Label3 = new QLabel(QStringLiteral("Stopp1 (4+6):"), gbLS);
    cbAlg2 = makeEdgeList(QStringLiteral("Kontakt 4+6"));
    LabelStop2 = new QLabel(QStringLiteral("Stopp2 (4+1):"), gbLS);
    cbAlg3 = makeEdgeList(QStringLiteral("Kontakt 4+1"));
    Label2 = new QLabel(QStringLiteral("Gesperrt:"), gbLS);
    seTimeout = new TCfgSpinEdit(1, 999, 10, gbLS);
    Label5 = new QLabel(QStringLiteral("Sek."), gbLS);

    Image1 = new QLabel(this);
    Image1->setPixmap(ContactPicture(true));
    Image1->setFixedSize(ContactPictureSize);
    Image1->hide();
    Image2 = new QLabel(this);
    Image2->setPixmap(ContactPicture(false));
    Image2->setFixedSize(ContactPictureSize);
    Image2->hide();

    gbLive = new QGroupBox(QStringLiteral("Zuschauer"), this);
    LabelTitle = new QLabel(QStringLiteral("Veranstaltung:"), gbLive);
    edVeranstaltung = new QLineEdit(gbLive);
    edVeranstaltung->setMaxLength(MaxVeranstaltungLength);
    edVeranstaltung->setPlaceholderText(QStringLiteral("z. B. Seifenkistenrennen am Kirchberg"));
    LabelLivePort = new QLabel(QStringLiteral("Live-Ergebnisse, Port:"), gbLive);
    seLivePort = new QSpinBox(gbLive);
    seLivePort->setRange(0, MaxLivePort);
    seLivePort->setSpecialValueText(QStringLiteral("aus"));
    seLivePort->setToolTip(
        QStringLiteral("Die Ergebnisse für Handys im selben Netz, z. B. Port 8080; aus = 0"));
    LabelOnlineZiel = new QLabel(QStringLiteral("Online-Ziel (Ordner):"), gbLive);
    edOnlineZiel = new QLineEdit(gbLive);
    edOnlineZiel->setMaxLength(MaxOnlineZielLength);
    edOnlineZiel->setPlaceholderText(QStringLiteral("z. B. sftp://verein@www.example.de/live/ – leer = aus"));
    edOnlineZiel->setToolTip(QStringLiteral(
        "Nach jeder Änderung werden index.html und ergebnisse.json in diesen Ordner der Vereins-Website "
        "hochgeladen (sftp://, ftps://, ftp://, https:// oder http:// für WebDAV). Alles dort ist "
        "öffentlich."));
    LabelOnlineBenutzer = new QLabel(QStringLiteral("Benutzer:"), gbLive);
    edOnlineBenutzer = new QLineEdit(gbLive);
    edOnlineBenutzer->setMaxLength(MaxOnlineBenutzerLength);
    edOnlineBenutzer->setPlaceholderText(QStringLiteral("falls nicht im Ziel angegeben"));
    LabelOnlinePasswort = new QLabel(QStringLiteral("Passwort:"), gbLive);
    edOnlinePasswort = new QLineEdit(gbLive);
    edOnlinePasswort->setEchoMode(QLineEdit::Password);
    edOnlinePasswort->setPlaceholderText(QStringLiteral("unverändert (im Schlüsselbund)"));
    edOnlinePasswort->setToolTip(
        QStringLiteral("Wird im Schlüsselbund des Desktops gespeichert, nicht in den Einstellungen. "
                       "Bei SFTP genügt auch der SSH-Schlüssel in ~/.ssh."));
    btnOnlineCheck = new QPushButton(QStringLiteral("Verbindung prüfen"), gbLive);
    btnOnlineCheck->setToolTip(
        QStringLiteral("Schreibt die Datei „verbindungstest.txt“ in den Ordner und sagt, was nicht geht"));
    btnOnlineCheck->setAutoDefault(false);
    btnOnlineCheck->hide();
    connect(btnOnlineCheck, &QPushButton::clicked, this, [this] {
        if (m_ConnectionCheck)
            m_ConnectionCheck(edOnlineZiel->text().trimmed(), edOnlineBenutzer->text().trimmed(),
                              edOnlinePasswort->text());
    });

    gbStartplatz = new QGroupBox(QStringLiteral("Startplatz"), this);
    LabelStartplatzPort = new QLabel(QStringLiteral("Im Ziel, UDP-Port:"), gbStartplatz);
    seStartplatzPort = new QSpinBox(gbStartplatz);
    seStartplatzPort->setRange(0, MaxStartplatzPort);
    seStartplatzPort->setSpecialValueText(QStringLiteral("aus"));
    seStartplatzPort->setToolTip(QStringLiteral(
        "Der Laptop am Start schickt die Starts über das WLAN an diesen Port, z. B. 47110; aus = 0"));
    LabelStartplatzSchluessel = new QLabel(QStringLiteral("Schlüssel:"), gbStartplatz);
    edStartplatzSchluessel = new QLineEdit(gbStartplatz);
    edStartplatzSchluessel->setMaxLength(40);
    edStartplatzSchluessel->setPlaceholderText(QStringLiteral("wird im Ziel erzeugt"));
    edStartplatzSchluessel->setToolTip(
        QStringLiteral("Derselbe Code auf beiden Laptops: nur wer ihn kennt, kann Starts schicken"));
    btnNeuerSchluessel = new QPushButton(QStringLiteral("Neuer Schlüssel"), gbStartplatz);
    btnNeuerSchluessel->setAutoDefault(false);
    LabelZielAdresse = new QLabel(QStringLiteral("Am Start, Zieladresse:"), gbStartplatz);
    edZielAdresse = new QLineEdit(gbStartplatz);
    edZielAdresse->setMaxLength(MaxZielAdresseLength);
    edZielAdresse->setPlaceholderText(QStringLiteral("z. B. 192.168.1.20:47110"));
    edZielAdresse->setToolTip(QStringLiteral("Adresse und Port des Ziel-Laptops, für den Laptop am Start"));
    ImageStartplatzCode = new QLabel(gbStartplatz);
    ImageStartplatzCode->setFixedSize(StartplatzCodeImageSize, StartplatzCodeImageSize);
    ImageStartplatzCode->setToolTip(QStringLiteral("Der Schlüssel zum Abfotografieren mit dem Handy"));
    LabelStartplatzFehler = new QLabel(gbStartplatz);
    LabelStartplatzFehler->setWordWrap(true);
    LabelStartplatzFehler->setStyleSheet(QStringLiteral("color: #b00000"));
    // Two lines are kept for the note whether shown or not: the dialog keeps its size.
    LabelStartplatzFehler->setFixedHeight(2 * LabelStartplatzFehler->fontMetrics().lineSpacing() + 2);
    connect(seStartplatzPort, &QSpinBox::valueChanged, this, [this](int port) {
        // A finish that listens needs a code to show.
        if (port > 0 && edStartplatzSchluessel->text().trimmed().isEmpty())
            edStartplatzSchluessel->setText(FormatPairingCode(GeneratePairingCode()));
    });
    connect(btnNeuerSchluessel, &QPushButton::clicked, this,
            [this] { edStartplatzSchluessel->setText(FormatPairingCode(GeneratePairingCode())); });
    connect(edStartplatzSchluessel, &QLineEdit::textChanged, this, [this] {
        ShowPairingCode();
        LabelStartplatzFehler->clear();
    });
    connect(edZielAdresse, &QLineEdit::textChanged, LabelStartplatzFehler, &QLabel::clear);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Abbrechen"), this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    connect(cbPort, &QComboBox::activated, this, [this](int) { cbPortChange(); });
    connect(rgBahn, &TCfgRadioGroup::Click, this, &TCfgDialog::rgBahnClick);

    auto* runs = new QGridLayout;
    runs->addWidget(LabelLaufProbe, 0, 0);
    runs->addWidget(seProbe, 0, 1);
    runs->addWidget(LabelLaufALL, 1, 0);
    runs->addWidget(seALL, 1, 1);
    runs->addWidget(LabelMindestzeit, 2, 0);
    runs->addWidget(seMindestzeit, 2, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(rgBahn);
    top->addLayout(runs);
    top->addStretch();

    auto* barrier = new QGridLayout(gbLS);
    barrier->addWidget(Label19, 0, 0);
    barrier->addWidget(cbPort, 0, 1, 1, 2);
    barrier->addWidget(LabelAlgo, 1, 0, 1, 3);
    barrier->addWidget(Label1, 2, 0);
    barrier->addWidget(cbAlg1, 2, 1, 1, 2);
    barrier->addWidget(Label3, 3, 0);
    barrier->addWidget(cbAlg2, 3, 1, 1, 2);
    barrier->addWidget(LabelStop2, 4, 0);
    barrier->addWidget(cbAlg3, 4, 1, 1, 2);
    barrier->addWidget(Label2, 5, 0);
    barrier->addWidget(seTimeout, 5, 1);
    barrier->addWidget(Label5, 5, 2);
    // Notes about the selected port's adapter, beside the lines.
    barrier->addWidget(LabelPortNote, 0, 3, 6, 1);

    auto* live = new QGridLayout(gbLive);
    live->addWidget(LabelTitle, 0, 0);
    live->addWidget(edVeranstaltung, 0, 1);
    live->addWidget(LabelLivePort, 1, 0);
    live->addWidget(seLivePort, 1, 1, Qt::AlignLeft);
    live->addWidget(LabelOnlineZiel, 2, 0);
    live->addWidget(edOnlineZiel, 2, 1);
    live->addWidget(LabelOnlineBenutzer, 3, 0);
    live->addWidget(edOnlineBenutzer, 3, 1);
    live->addWidget(LabelOnlinePasswort, 4, 0);
    live->addWidget(edOnlinePasswort, 4, 1);
    live->addWidget(btnOnlineCheck, 5, 1, Qt::AlignLeft);

    auto* station = new QGridLayout(gbStartplatz);
    station->addWidget(LabelStartplatzPort, 0, 0);
    station->addWidget(seStartplatzPort, 0, 1, Qt::AlignLeft);
    station->addWidget(LabelStartplatzSchluessel, 1, 0);
    station->addWidget(edStartplatzSchluessel, 1, 1);
    station->addWidget(btnNeuerSchluessel, 1, 2);
    station->addWidget(LabelZielAdresse, 2, 0);
    station->addWidget(edZielAdresse, 2, 1, 1, 2);
    station->addWidget(LabelStartplatzFehler, 3, 0, 1, 3);
    station->addWidget(ImageStartplatzCode, 0, 3, 4, 1, Qt::AlignTop);
    station->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addWidget(gbLS);
    main->addWidget(gbLive);
    main->addWidget(gbStartplatz);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);

    // Named like the members, so that layouts and tests can find them.
    const std::pair<QWidget*, const char*> controls[] = {
        {rgBahn, "rgBahn"},       {LabelLaufProbe, "LabelLaufProbe"},
        {seProbe, "seProbe"},     {LabelLaufALL, "LabelLaufALL"},
        {seALL, "seALL"},         {gbLS, "gbLS"},
        {Label19, "Label19"},     {cbPort, "cbPort"},
        {LabelAlgo, "LabelAlgo"}, {Label1, "Label1"},
        {cbAlg1, "cbAlg1"},       {Label3, "Label3"},
        {cbAlg2, "cbAlg2"},       {LabelStop2, "LabelStop2"},
        {cbAlg3, "cbAlg3"},       {Label2, "Label2"},
        {seTimeout, "seTimeout"}, {Label5, "Label5"},
        {Image1, "Image1"},       {Image2, "Image2"},
        {OKBtn, "OKBtn"},         {CancelBtn, "CancelBtn"},
    };
    for (const auto& [control, name] : controls)
        control->setObjectName(QLatin1String(name));
    LabelPortNote->setObjectName(QStringLiteral("LabelPortNote"));
    LabelMindestzeit->setObjectName(QStringLiteral("LabelMindestzeit"));
    seMindestzeit->setObjectName(QStringLiteral("seMindestzeit"));
    ShowPairingCode();
}

void TCfgDialog::FormCreate(std::uint32_t portsFound)
{
    SetPortsFound(portsFound);
    LabelLaufALL->setText(QStringLiteral("Durchgänge:"));
    LabelLaufProbe->setText(QStringLiteral("Probeläufe:"));
}

void TCfgDialog::SetPortsFound(std::uint32_t portsFound)
{
    cbPort->clear();
    cbPort->addItem(NoPortText, 0);
    // Only the low 16 bits mark ports, whatever the high word claims.
    const int highest = std::min(int(portsFound >> 16), HighestPortBit);
    for (int n = 1; n <= highest; ++n) {
        if (!(portsFound & (std::uint32_t(1) << (n - 1))))
            continue;
        // A port this user can't open is still offered (the group may be mended
        // before the race), but marked.
        const QString problem = m_PortProblem ? m_PortProblem(n) : QString();
        cbPort->addItem(
            problem.isEmpty() ? PortEntryText(n) : PortEntryText(n) + QStringLiteral(" – ") + problem, n);
    }
    // The lane count is chosen with or without a port: a club may time by keys alone.
    rgBahn->setEnabled(true);
}

void TCfgDialog::SetPortNotes(std::function<QStringList(int port)> notes)
{
    m_PortNotes = std::move(notes);
}

void TCfgDialog::SetConnectionCheck(
    std::function<void(const QString& folder, const QString& user, const QString& password)> check)
{
    m_ConnectionCheck = std::move(check);
    btnOnlineCheck->setVisible(bool(m_ConnectionCheck));
}

void TCfgDialog::SetPortProblems(std::function<QString(int port)> problem)
{
    m_PortProblem = std::move(problem);
}

void TCfgDialog::ShowPortNotes()
{
    const int port = PortChosen() ? PortNumberOfEntry(cbPort->currentText()) : 0;
    QStringList notes = m_PortNotes && port ? m_PortNotes(port) : QStringList();
    const QString problem = m_PortProblem && port ? m_PortProblem(port) : QString();
    if (!problem.isEmpty())
        notes.prepend(problem == NoPortPermissionText ? NoPortPermissionHint : problem);
    LabelPortNote->setText(notes.join(QLatin1Char('\n')));
    LabelPortNote->setToolTip(notes.join(QLatin1Char('\n')));
    LabelPortNote->setVisible(!notes.isEmpty());
}

QString TCfgDialog::PortEntryText(int port)
{
    QString text = QStringLiteral("COM%1").arg(port);
#ifndef Q_OS_WIN
    text += QStringLiteral("  (%1)").arg(PortDeviceName(port));
#endif
    return text;
}

int TCfgDialog::PortNumberOfEntry(const QString& entryText)
{
    const QString word = entryText.section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    const int number = word.mid(3, 3).toInt(&ok);
    return ok ? number : 0;
}

int TCfgDialog::PortEntryIndex(int port) const
{
    if (port == 0)
        return 0;
    for (int i = 1; i < cbPort->count(); ++i) {
        if (cbPort->itemText(i).section(QLatin1Char(' '), 0, 0) == QStringLiteral("COM%1").arg(port))
            return i;
    }
    return -1;
}

void TCfgDialog::Fill(const TStoredSettings& settings)
{
    m_CountBahn = settings.CountBahn;
    cbPort->setCurrentIndex(PortEntryIndex(settings.Port));
    // An edge setting other than 0 or 1 selects nothing.
    cbAlg1->setCurrentIndex(settings.Alg1 >= 0 && settings.Alg1 < cbAlg1->count() ? settings.Alg1 : -1);
    cbAlg2->setCurrentIndex(settings.Alg2 >= 0 && settings.Alg2 < cbAlg2->count() ? settings.Alg2 : -1);
    cbAlg3->setCurrentIndex(settings.Alg3 >= 0 && settings.Alg3 < cbAlg3->count() ? settings.Alg3 : -1);
    m_RememberedPortIndex = cbPort->currentIndex();
    seTimeout->setValue(settings.TimerGesperrt / 1000);
    seProbe->setValue(settings.ProbeLaufe);
    seALL->setValue(settings.AllLaufe);
    seMindestzeit->setValue(settings.Mindestzeit / 100.0);
    edVeranstaltung->setText(settings.Veranstaltung);
    seLivePort->setValue(settings.LivePort);
    edOnlineZiel->setText(settings.OnlineZiel);
    edOnlineBenutzer->setText(settings.OnlineBenutzer);
    edOnlinePasswort->clear();
    // The code first: a port given afterwards finds it and makes none.
    edStartplatzSchluessel->setText(settings.StartplatzSchluessel.isEmpty()
                                        ? QString()
                                        : FormatPairingCode(settings.StartplatzSchluessel));
    seStartplatzPort->setValue(settings.StartplatzPort);
    edZielAdresse->setText(settings.ZielAdresse);
    LabelStartplatzFehler->clear();
}

void TCfgDialog::ShowPairingCode()
{
    const PairingCodeCheck check = NormalisePairingCode(edStartplatzSchluessel->text());
    QPixmap picture(StartplatzCodeImageSize, StartplatzCodeImageSize);
    picture.fill(Qt::transparent);
    if (!check.code.isEmpty()) {
        const QImage code = QrCodeImage(FormatPairingCode(check.code));
        if (!code.isNull())
            picture = QPixmap::fromImage(code.scaled(StartplatzCodeImageSize, StartplatzCodeImageSize,
                                                     Qt::KeepAspectRatio, Qt::FastTransformation));
    }
    ImageStartplatzCode->setPixmap(picture);
}

QString TCfgDialog::StartplatzProblem() const
{
    const QString typed = edStartplatzSchluessel->text().trimmed();
    if (!typed.isEmpty()) {
        const PairingCodeCheck check = NormalisePairingCode(typed);
        if (!check.error.isEmpty())
            return check.error;
    }
    const QString address = edZielAdresse->text().trimmed();
    if (!address.isEmpty()) {
        const FinishAddressCheck check = CheckFinishAddress(address);
        if (!check.error.isEmpty())
            return check.error;
    }
    return {};
}

void TCfgDialog::SetOnlineAcceptCheck(
    std::function<bool(QString& folder, const QString& user, QString& password)> check)
{
    m_OnlineAcceptCheck = std::move(check);
}

void TCfgDialog::accept()
{
    const QString problem = StartplatzProblem();
    if (!problem.isEmpty()) {
        LabelStartplatzFehler->setText(problem);
        edStartplatzSchluessel->setFocus();
        return;
    }
    QString folder = edOnlineZiel->text().trimmed();
    QString password = edOnlinePasswort->text();
    if (m_OnlineAcceptCheck && !m_OnlineAcceptCheck(folder, edOnlineBenutzer->text().trimmed(), password))
        return;
    edOnlineZiel->setText(folder);
    edOnlinePasswort->setText(password);
    QDialog::accept();
}

QString TCfgDialog::OnlinePasswordEntered() const
{
    return edOnlinePasswort->text();
}

void TCfgDialog::ApplyTo(TStoredSettings& settings) const
{
    settings.Veranstaltung = edVeranstaltung->text().simplified();
    settings.LivePort = seLivePort->value();
    settings.OnlineZiel = edOnlineZiel->text().trimmed();
    settings.OnlineBenutzer = edOnlineBenutzer->text().trimmed();
    settings.StartplatzPort = seStartplatzPort->value();
    // Only a sound code is taken (OK refuses any other).
    settings.StartplatzSchluessel = NormalisePairingCode(edStartplatzSchluessel->text()).code;
    if (CheckFinishAddress(edZielAdresse->text()).error.isEmpty() ||
        edZielAdresse->text().trimmed().isEmpty())
        settings.ZielAdresse = edZielAdresse->text().trimmed();
    settings.ProbeLaufe = seProbe->Value();
    settings.AllLaufe = seALL->Value();
    settings.TimerGesperrt = seTimeout->Value() * 1000;
    settings.Mindestzeit = std::clamp(int(std::lround(seMindestzeit->value() * 100)), 0, MaxMindestzeit);
    if (rgBahn->ItemIndex() >= 0)
        settings.CountBahn = rgBahn->ItemIndex() + 1;
    settings.Port = 0;
    if (!PortChosen())
        return;
    settings.Port = PortNumberOfEntry(cbPort->currentText());
    const auto take = [](const QComboBox* list, int& alg) {
        if (list->currentIndex() >= 0)
            alg = list->currentIndex();
    };
    take(cbAlg1, settings.Alg1);
    take(cbAlg2, settings.Alg2);
    take(cbAlg3, settings.Alg3);
}

void TCfgDialog::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TCfgDialog::FormShow()
{
    rgBahn->SetItemIndex(m_CountBahn - 1);
    // The stored port was not found at start-up: offer the highest one found.
    if (cbPort->currentIndex() < 0)
        cbPort->setCurrentIndex(cbPort->count() - 1);
    cbPort->setEnabled(cbPort->count() > 1);
    cbPortChange();
    rgBahnClick();
}

void TCfgDialog::cbPortChange()
{
    ShowPortNotes();
    EnableBarrierControls();
}

void TCfgDialog::rgBahnClick()
{
    EnableBarrierControls();
}

// The barrier lines are set only with a port, lane 2's only with two lanes as
// chosen now; each label goes with its control.
void TCfgDialog::EnableBarrierControls()
{
    const bool port = PortChosen();
    for (QWidget* control : std::initializer_list<QWidget*>{LabelAlgo, Label1, cbAlg1, Label3, cbAlg2, Label2,
                                                            seTimeout, Label5})
        control->setEnabled(port);
    const bool lane2 = port && rgBahn->ItemIndex() == 1;
    cbAlg3->setEnabled(lane2);
    LabelStop2->setEnabled(lane2);
    cbAlg3->update();
}

void TCfgDialog::cbAlg1DrawItem(TCfgContactList* list, QPainter* painter, int index, const QRect& rect,
                                bool selected, bool disabled)
{
    const QPalette& palette = list->palette();
    const QPalette::ColorGroup group = disabled ? QPalette::Disabled : QPalette::Active;
    painter->fillRect(rect, palette.brush(group, selected ? QPalette::Highlight : QPalette::Base));
    const QColor textColor = palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    if (!disabled) {
        const QLabel* image = index == 0 ? Image1 : Image2;
        painter->drawPixmap(ContactPictureOrigin(rect), image->pixmap());
    }
    painter->setPen(textColor);
    painter->setFont(list->font());
    const QPoint textOrigin = ItemTextOrigin(rect);
    painter->drawText(QRect(textOrigin, rect.bottomRight()), Qt::AlignLeft | Qt::AlignTop,
                      list->itemText(index));
}

QPixmap TCfgDialog::ContactPicture(bool closed)
{
    QPixmap picture(ContactPictureSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = closed ? ToQColor(clRed) : ToQColor(RGBColor(128, 128, 128));
    const QPointF left(6, 10);
    const QPointF right(34, 10);
    painter.setPen(QPen(color, 2));
    if (closed)
        painter.drawLine(left, right);
    else
        painter.drawLine(left, QPointF(31, 2));
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(left, 3, 3);
    painter.drawEllipse(right, 3, 3);
    return picture;
}
