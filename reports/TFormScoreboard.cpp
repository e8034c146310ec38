#include "TFormScoreboard.h"

#include "TDigit.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

#include <algorithm>

namespace {

constexpr QColor background{0, 0, 0};
constexpr QColor text{255, 255, 255};
constexpr QColor accent{255, 220, 0};

// Segment patterns of the letters an eliminated run shows.
constexpr std::uint8_t letterE = 1 << TDigit::sgTop | 1 << TDigit::sgMiddle | 1 << TDigit::sgBottom |
                                 1 << TDigit::sgUpperLeft | 1 << TDigit::sgLowerLeft;
constexpr std::uint8_t letterL = 1 << TDigit::sgBottom | 1 << TDigit::sgUpperLeft | 1 << TDigit::sgLowerLeft;

void Colour(QWidget* widget, const QColor& foreground)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, foreground);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLabel* Label(QWidget* parent, const QColor& colour = text)
{
    auto* label = new QLabel(parent);
    Colour(label, colour);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void SetPixelSize(QLabel* label, int pixels, bool bold = false)
{
    QFont font = label->font();
    font.setPixelSize(std::max(8, pixels));
    font.setBold(bold);
    label->setFont(font);
}

// As large as pixels, smaller where the text would not fit the label's
// width, but never below smallest; what still doesn't fit is elided.
void FitText(QLabel* label, const QString& full, int pixels, int smallest, bool bold)
{
    QFont font = label->font();
    font.setBold(bold);
    font.setPixelSize(std::max(8, pixels));
    const int width = std::max(1, label->width());
    while (font.pixelSize() > smallest && QFontMetrics(font).horizontalAdvance(full) > width)
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    label->setText(QFontMetrics(font).elidedText(full, Qt::ElideRight, width));
    label->setToolTip(full);
}

} // namespace

TFormScoreboard::TFormScoreboard(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Quellorix – Anzeigetafel"));
    // The operator goes on typing in the main window while this one is shown.
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    Colour(this, text);
    resize(960, 540);

    title = Label(this, accent);
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    address = Label(this);
    address->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qr = Label(this);
    qr->setAlignment(Qt::AlignCenter);

    lanesView = new QWidget(this);
    Colour(lanesView, text);
    for (LanePanel& lane : lanes)
        BuildLane(lane);

    standingsView = new QWidget(this);
    Colour(standingsView, text);
    standingsText = Label(standingsView);
    standingsText->setTextFormat(Qt::RichText);
    standingsText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    standingsView->hide();

    pageTimer = new QTimer(this);
    pageTimer->setInterval(pageSeconds * 1000);
    connect(pageTimer, &QTimer::timeout, this, &TFormScoreboard::NextPage);
    LayOut();
}

void TFormScoreboard::BuildLane(LanePanel& lane)
{
    lane.panel = new QWidget(lanesView);
    Colour(lane.panel, text);
    lane.caption = Label(lane.panel, accent);
    lane.starter = Label(lane.panel);
    lane.club = Label(lane.panel);
    for (TDigit*& digit : lane.digits) {
        digit = new TDigit(lane.panel);
        digit->SetColor(clBlack);
        digit->SetColorOff(clBlack);
        digit->SetColorOn(clYellow);
        digit->SetBorderStyle(TDigit::bsNone);
    }
    lane.comma = Label(lane.panel, QColor(255, 255, 0));
    lane.comma->setText(QStringLiteral(","));
    lane.result = Label(lane.panel);
    ShowTime(lane, QString());
}

void TFormScoreboard::SetTitle(const QString& text)
{
    title->setProperty("fullText", text);
    LayOut();
}

void TFormScoreboard::SetAddress(const QString& url, const QImage& qrCode)
{
    address->setText(url);
    qrImage = qrCode;
    address->setVisible(!url.isEmpty());
    qr->setVisible(!qrCode.isNull());
    LayOut();
}

// The time's characters on the five digits, right-aligned at the comma:
// "12,34" as _12,34; letters for an elimination; blanks stay dark.
void TFormScoreboard::ShowTime(LanePanel& lane, const QString& time)
{
    QString shown = time;
    // The decimal sign of the operator's locale, comma or point.
    qsizetype comma = shown.indexOf(QLatin1Char(','));
    if (comma < 0)
        comma = shown.indexOf(QLatin1Char('.'));
    QString whole = comma < 0 ? shown : shown.left(comma);
    QString fraction = comma < 0 ? QString() : shown.mid(comma + 1);
    const bool number = comma >= 0;
    if (!number) {
        // A word (EL) stands right-aligned on the whole display.
        whole = shown.right(5);
        fraction.clear();
    }
    const QString cells = number ? whole.rightJustified(3, QLatin1Char(' ')).right(3) +
                                       fraction.leftJustified(2, QLatin1Char('0')).left(2)
                                 : whole.rightJustified(5, QLatin1Char(' '));
    for (int i = 0; i < 5; ++i) {
        const QChar c = cells.at(i);
        if (c.isDigit())
            lane.digits.at(i)->SetValueBinary(TDigit::DigitPattern(c.digitValue()));
        else if (c == QLatin1Char('E'))
            lane.digits.at(i)->SetValueBinary(letterE);
        else if (c == QLatin1Char('L'))
            lane.digits.at(i)->SetValueBinary(letterL);
        else
            lane.digits.at(i)->SetValueBinary(0);
    }
    lane.comma->setVisible(number);
}

void TFormScoreboard::ShowLanes(const std::array<ScoreboardLane, 2>& shown, int count)
{
    laneCount = std::clamp(count, 1, 2);
    for (int i = 0; i < 2; ++i) {
        const ScoreboardLane& view = shown.at(i);
        LanePanel& lane = lanes.at(i);
        const bool empty = view.phase == ScoreboardLane::Phase::Empty;
        lane.starter->setProperty("fullText", empty ? QString() : view.starter);
        lane.club->setProperty("fullText", empty ? QString() : view.club);
        lane.caption->setText(
            QStringLiteral("Bahn %1").arg(i + 1) +
            (view.className.isEmpty() ? QString() : QStringLiteral("  ·  Klasse %1").arg(view.className)));
        ShowTime(lane, view.phase == ScoreboardLane::Phase::Empty ? QString() : view.time);
        QStringList result;
        if (view.phase == ScoreboardLane::Phase::Stopped) {
            if (view.unconfirmed)
                result << QStringLiteral("unbestätigt");
            if (!view.place.isEmpty())
                result << AudiencePlaceText(view.place, view.afterRuns);
            if (!view.gap.isEmpty())
                result << view.gap;
            // A place during the round already names the runs.
            if (view.place.isEmpty() || view.afterRuns == 0)
                result << (view.countedRuns == 1 ? QStringLiteral("1 Lauf")
                                                 : QStringLiteral("%1 Läufe").arg(view.countedRuns));
        }
        lane.result->setProperty("fullText", result.join(QStringLiteral("  ·  ")));
    }
    standingsShown = false;
    pageTimer->stop();
    standingsView->hide();
    lanesView->show();
    LayOut();
}

void TFormScoreboard::SetLaneTime(int lane, const QString& time)
{
    if (lane == 1 || lane == 2)
        ShowTime(lanes.at(lane - 1), time);
}

void TFormScoreboard::ShowStandings(const QList<ScoreboardClass>& classes)
{
    standings = classes;
    standingsShown = true;
    lanesView->hide();
    standingsView->show();
    page = 0;
    LayOut();
    pageTimer->start();
}

QStringList TFormScoreboard::StandingsLines() const
{
    return standingsShown && page < pages.size() ? pages.at(page) : QStringList();
}

void TFormScoreboard::NextPage()
{
    if (pages.isEmpty())
        return;
    page = (page + 1) % int(pages.size());
    ShowPage();
}

int TFormScoreboard::NameFontPixels() const
{
    return lanes.at(0).starter->font().pixelSize();
}

int TFormScoreboard::LinesPerPage() const
{
    // A table row is a line of the font and its cell padding; the page number
    // below the table takes two more.
    const int line = QFontMetrics(standingsText->font()).lineSpacing() + 4;
    return std::max(3, standingsView->height() / std::max(1, line) - 2);
}

int TFormScoreboard::DigitHeight() const
{
    return lanes.at(0).digits.at(0)->height();
}

// Lines of the standings split into pages that fit the height; a class
// heading never stands alone at the foot of a page. The lines are spread
// evenly over the pages, so that no page shows a line or two and a blank.
void TFormScoreboard::Paginate()
{
    const auto split = [this](int perPage) {
        QList<QStringList> result;
        QStringList current;
        for (const ScoreboardClass& cls : std::as_const(standings)) {
            if (current.size() + 2 > perPage && !current.isEmpty()) {
                result << current;
                current.clear();
            }
            current << QStringLiteral("Klasse %1").arg(cls.className);
            for (const auto& row : cls.rows) {
                if (current.size() >= perPage) {
                    result << current;
                    current = {QStringLiteral("Klasse %1 (Fortsetzung)").arg(cls.className)};
                }
                current << QStringLiteral("%1.  %2  %3").arg(row.at(0), row.at(1), row.at(2));
            }
        }
        if (!current.isEmpty())
            result << current;
        return result;
    };
    const int perPage = LinesPerPage();
    pages = split(perPage);
    qsizetype lines = 0;
    for (const QStringList& p : std::as_const(pages))
        lines += p.size();
    // The smallest page size that needs no more pages than the full ones do.
    for (int even = int((lines + pages.size() - 1) / std::max<qsizetype>(1, pages.size())); even < perPage;
         ++even) {
        QList<QStringList> balanced = split(std::max(3, even));
        if (balanced.size() <= pages.size()) {
            pages = balanced;
            break;
        }
    }
    page = std::min(page, std::max(0, int(pages.size()) - 1));
}

// A table, so that places, names and totals stand in columns.
void TFormScoreboard::ShowPage()
{
    QString html = QStringLiteral("<table cellspacing=0 cellpadding=2 width=100%>");
    for (const QString& line : StandingsLines()) {
        if (line.startsWith(QStringLiteral("Klasse"))) {
            html += QStringLiteral("<tr><td colspan=3 style='color:#ffdc00'><b>%1</b></td></tr>")
                        .arg(line.toHtmlEscaped());
            continue;
        }
        html += QStringLiteral(
                    "<tr><td align=right width=8%>%1</td><td>&nbsp;%2</td><td align=right>%3</td></tr>")
                    .arg(line.section(QStringLiteral("  "), 0, 0).toHtmlEscaped(),
                         line.section(QStringLiteral("  "), 1, 1).toHtmlEscaped(),
                         line.section(QStringLiteral("  "), 2).toHtmlEscaped());
    }
    html += QStringLiteral("</table>");
    if (pages.size() > 1)
        html += QStringLiteral("<p align=right>Seite %1 von %2</p>").arg(page + 1).arg(pages.size());
    standingsText->setText(html);
}

void TFormScoreboard::LayOut()
{
    const int w = width();
    const int h = height();
    const int header = h / 10;
    SetPixelSize(address, header * 4 / 10);
    // The QR code stands in the bottom right corner, below the lanes' results.
    const int qrSize = qrImage.isNull() ? 0 : h / 5;
    const int addressWidth = address->text().isEmpty()
                                 ? 0
                                 : QFontMetrics(address->font()).horizontalAdvance(address->text()) + h / 40;
    title->setGeometry(h / 40, 0, w - addressWidth - h / 20, header);
    FitText(title, title->property("fullText").toString(), header * 6 / 10, header * 4 / 10, true);
    address->setGeometry(w - addressWidth - h / 40, 0, addressWidth, header);
    if (qrSize > 0) {
        qr->setGeometry(w - qrSize - h / 40, h - qrSize - h / 40, qrSize, qrSize);
        qr->setPixmap(
            QPixmap::fromImage(qrImage.scaled(qrSize, qrSize, Qt::KeepAspectRatio, Qt::FastTransformation)));
        qr->raise();
    }

    const QRect body(0, header, w, h - header);
    lanesView->setGeometry(body);
    standingsView->setGeometry(body);
    const int laneWidth = body.width() / laneCount;
    // Read from twenty metres: name and club a twelfth of the height each, the time a quarter.
    const int captionHeight = std::max(h / 16, 10);
    const int nameHeight = std::max(h / 9, 12);
    const int namePixels = std::max(h / 12, 9);
    const int digitHeight = std::max(h * 27 / 100, 20);
    for (int i = 0; i < 2; ++i) {
        LanePanel& lane = lanes.at(i);
        lane.panel->setVisible(i < laneCount);
        lane.panel->setGeometry(i * laneWidth, 0, laneWidth, body.height());
        const int margin = laneWidth / 20;
        const int inner = laneWidth - 2 * margin;
        lane.caption->setGeometry(margin, 0, inner, captionHeight);
        SetPixelSize(lane.caption, captionHeight * 8 / 10, true);
        lane.starter->setGeometry(margin, captionHeight, inner, nameHeight);
        FitText(lane.starter, lane.starter->property("fullText").toString(), namePixels, namePixels, true);
        lane.club->setGeometry(margin, captionHeight + nameHeight, inner, nameHeight);
        FitText(lane.club, lane.club->property("fullText").toString(), namePixels, namePixels, false);
        const int top = captionHeight + 2 * nameHeight + h / 60;
        const int digitWidth = std::min(digitHeight * 6 / 10, inner * 2 / 11);
        const int gap = digitWidth / 2;
        int x = (laneWidth - (5 * digitWidth + gap)) / 2;
        for (int d = 0; d < 5; ++d) {
            lane.digits.at(d)->setGeometry(x, top, digitWidth, digitHeight);
            lane.digits.at(d)->SetThickness(std::max(2, digitWidth / 10));
            x += digitWidth;
            if (d == 2) {
                SetPixelSize(lane.comma, digitHeight / 2, true);
                lane.comma->setGeometry(x, top + digitHeight / 2, gap, digitHeight / 2);
                x += gap;
            }
        }
        lane.result->setGeometry(margin, top + digitHeight + h / 40, inner, h / 12);
        FitText(lane.result, lane.result->property("fullText").toString(), h / 16, h / 30, true);
    }

    SetPixelSize(standingsText, std::max(h / 18, 10));
    standingsText->setGeometry(h / 40, 0, body.width() - h / 20 - qrSize, body.height());
    if (standingsShown) {
        Paginate();
        ShowPage();
    }
}

void TFormScoreboard::mouseDoubleClickEvent(QMouseEvent* event)
{
    setWindowState(windowState() ^ Qt::WindowFullScreen);
    event->accept();
}

void TFormScoreboard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && isFullScreen()) {
        showNormal();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFormScoreboard::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
}
