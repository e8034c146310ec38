#include "ProtocolLogic.h"

#include "RunTime.h"

#include <QHash>
#include <QLocale>
#include <algorithm>

namespace {

const QString EliminatedText = QStringLiteral("EL");

QString CellAt(const QStringList& rowCells, int col)
{
    return col < rowCells.size() ? rowCells.at(col) : QString();
}

} // namespace

QStringList ProtocolHeaders()
{
    return {QStringLiteral("Nr."),    QStringLiteral("Name"),   QStringLiteral("Vorname"),
            QStringLiteral("Verein"), QStringLiteral("Klasse"), QStringLiteral("Lauf1"),
            QStringLiteral("Lauf2"),  QStringLiteral("Lauf3"),  QStringLiteral("Lauf4"),
            QStringLiteral("Lauf5"),  QStringLiteral("Lauf6"),  QStringLiteral("Gesamt"),
            QStringLiteral("Platz"),  QString(QChar(0x00B9))};
}

QString ComputeTotal(const QStringList& rowCells, int probeLaufe, int allLaufe)
{
    // Stored settings may be out of range; never let the sum reach into the
    // class column or into the total itself.
    const int first = ColLauf1 + std::clamp(probeLaufe, 0, RunColumnCount);
    const int last = ColLauf1 - 1 + std::clamp(allLaufe, 0, RunColumnCount);

    long long sum = 0; // six times of up to InvalidTime each exceed 32 bits
    for (int col = first; col <= last; ++col) {
        const QString cell = CellAt(rowCells, col);
        if (cell.trimmed().isEmpty())
            continue;
        const int value = ParseRunTime(cell);
        sum += value;
        if (value == InvalidTime)
            break;
    }
    if (sum >= InvalidTime)
        return EliminatedText;
    if (sum <= 0)
        return QString();
    return FormatRunTime(static_cast<int>(sum));
}

QString ClassKey(const QString& className)
{
    QString key = className.trimmed();
    for (QChar& c : key) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return key;
}

bool SameClass(QStringView a, QStringView b)
{
    a = a.trimmed();
    b = b.trimmed();
    if (a.size() != b.size())
        return false;
    const auto lowered = [](QChar c) {
        return c >= u'A' && c <= u'Z' ? QChar(c.unicode() + (u'a' - u'A')) : c;
    };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != lowered(b[i]))
            return false;
    }
    return true;
}

QList<QStringList> ClassSpellingVariants(const QStringList& classNames)
{
    QList<QStringList> variants;
    QHash<QString, qsizetype> indexOfKey;
    for (const QString& name : classNames) {
        const QString key = ClassKey(name);
        auto found = indexOfKey.constFind(key);
        if (found == indexOfKey.constEnd()) {
            indexOfKey.insert(key, variants.size());
            variants.append(QStringList{name});
        } else if (!variants[found.value()].contains(name)) {
            variants[found.value()].append(name);
        }
    }
    variants.removeIf([](const QStringList& spellings) { return spellings.size() < 2; });
    return variants;
}

QStringList ComputePlaces(const QList<std::pair<QString, QString>>& classAndTotalInRowOrder)
{
    QStringList places;
    places.reserve(classAndTotalInRowOrder.size());

    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString currentClass;
    QString previousTotal;
    int previousPlace = 1;
    int count = 0;
    for (const auto& [className, total] : classAndTotalInRowOrder) {
        if (total.trimmed().isEmpty() || total == EliminatedText) {
            places.append(QString());
            continue;
        }
        const QString key = ClassKey(className);
        if (key != currentClass) {
            currentClass = key;
            previousTotal.clear();
            previousPlace = 1;
            count = 0;
        }
        ++count;
        int place = count;
        if (total == previousTotal) {
            place = previousPlace;
        } else {
            previousTotal = total;
            previousPlace = count;
        }
        places.append(locale.toString(place));
    }
    return places;
}

std::optional<int> StartNumberOfEntry(const QString& laneEntry)
{
    const qsizetype blank = laneEntry.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return std::nullopt;
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const int number = locale.toInt(laneEntry.left(blank), &ok);
    if (!ok)
        return std::nullopt;
    return number;
}

QString RunName(int run, int probeLaufe)
{
    return run < probeLaufe ? QStringLiteral("Probelauf %1").arg(run + 1)
                            : QStringLiteral("Lauf %1").arg(run + 1 - std::max(probeLaufe, 0));
}

std::array<int, 2> LanePositionsForNextRun(const QList<QStringList>& rowsInListOrder, int laneCount)
{
    const int count = int(rowsInListOrder.size());
    std::array<int, 2> positions{count >= 1 ? 0 : -1, laneCount > 1 && count >= 2 ? 1 : -1};
    int current = -1;
    for (const QStringList& row : rowsInListOrder) {
        const int column = FirstEmptyRunColumn(row);
        if (column >= 0 && (current < 0 || column < current))
            current = column;
    }
    if (current < 0)
        return positions;
    std::array<int, 2> found{-1, -1};
    int lane = 0;
    for (int i = 0; i < count && lane < std::min(laneCount, 2); ++i) {
        if (rowsInListOrder.at(i).value(current).isEmpty())
            found.at(size_t(lane++)) = i;
    }
    positions[0] = found[0];
    if (laneCount > 1)
        positions[1] = found[1];
    return positions;
}

int FirstEmptyRunColumn(const QStringList& rowCells)
{
    for (int col = ColLauf1; col <= ColLauf6; ++col) {
        if (CellAt(rowCells, col).isEmpty())
            return col;
    }
    return -1;
}

LaneDigits LaneDisplay(int ms)
{
    const int hundredths = std::max(ms, 0) / 10;
    const int seconds = hundredths / 100;
    const int fraction = hundredths % 100;

    LaneDigits digits;
    if (seconds >= 1000) {
        const int shown = std::min(seconds, 99999);
        digits.values = {shown / 10000, (shown / 1000) % 10, (shown / 100) % 10, (shown / 10) % 10,
                         shown % 10};
        digits.onColors.fill(LaneDigitOnColor);
        digits.onColors[0] = shown > 9999 ? LaneDigitOnColor : LaneDigitDimColor;
        digits.wholeSeconds = true;
        return digits;
    }
    digits.values = {seconds / 100, (seconds / 10) % 10, seconds % 10, fraction / 10, fraction % 10};
    digits.onColors.fill(LaneDigitOnColor);
    digits.onColors[0] = seconds > 99 ? LaneDigitOnColor : LaneDigitDimColor;
    digits.onColors[1] = seconds > 9 ? LaneDigitOnColor : LaneDigitDimColor;
    return digits;
}

int NextLanePosition(int lane, int position, int laneCount, int entryCount)
{
    if (lane != 1 && lane != 2)
        return position;
    // Without a selection the position counts as -1 and steps like any other.
    const int step = lane == 1 ? std::max(laneCount, 1) : 2;
    const long long next = static_cast<long long>(std::max(position, -1)) + step;
    const int wrapTo = lane == 1 ? 0 : 1;
    const long long chosen = next < entryCount ? next : wrapTo;
    return chosen < entryCount ? static_cast<int>(chosen) : -1;
}

TColor ProtocolCellBackground(int col, int probeLaufe)
{
    const int firstCounted = ColLauf1 + std::clamp(probeLaufe, 0, RunColumnCount);
    if (col < 0 || col >= ProtocolColumnCount)
        return clWindow;
    if (col < ColLauf1)
        return ProtocolFixedBackground;
    if (col < firstCounted)
        return ProtocolTestRunBackground;
    if (col <= ColLauf6)
        return ProtocolCountedRunBackground;
    return ProtocolResultBackground;
}

TAlignment ProtocolCellAlignment(int col)
{
    if (col == ColKlasse)
        return taCenter;
    if (col == ColNr || (col >= ColLauf1 && col <= ColPlatz))
        return taRightJustify;
    return taLeftJustify;
}

QStringList ProtocolRowCells(const QStringList& cells)
{
    QStringList row = cells.mid(0, ProtocolColumnCount);
    while (row.size() < ProtocolColumnCount)
        row.append(QString());
    return row;
}

QString GapToClassLeader(const QList<QStringList>& rows, const QString& className, const QString& total)
{
    const QString key = ClassKey(className);
    const int own = ParseRunTime(total);
    for (const QStringList& row : rows) {
        if (row.value(ColPlatz).trimmed() != QLatin1String("1") || ClassKey(row.value(ColKlasse)) != key)
            continue;
        const int best = ParseRunTime(row.value(ColGesamt));
        if (own == InvalidTime || best == InvalidTime || own <= best)
            return {};
        return u'+' + FormatRunTime(own - best);
    }
    return {};
}
