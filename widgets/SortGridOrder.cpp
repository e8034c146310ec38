#include "SortGridOrder.h"

#include <QHash>
#include <QLocale>
#include <algorithm>
#include <stdexcept>

namespace {

// The distinct texts of one pass and how they compare. Values of the
// converting styles are computed once per distinct text, and a comparison of
// two texts is asked once per pair the sort needs among the distinct texts,
// not once per pair of rows.
class TKeyComparer
{
public:
    TKeyComparer(std::vector<QString> keys, const TSortKeyPass& pass) : m_pass(pass)
    {
        if (m_pass.Style == ssCustom && (m_pass.Custom == nullptr || !*m_pass.Custom))
            m_pass.Style = ssNormal;
        QHash<QString, int> ids;
        ids.reserve(qsizetype(keys.size()));
        m_idOfPosition.reserve(keys.size());
        for (QString& key : keys) {
            if (!m_pass.CaseSensitive)
                key = AsciiLower(key);
            auto found = ids.constFind(key);
            if (found == ids.constEnd()) {
                found = ids.insert(key, int(m_texts.size()));
                m_texts.push_back(std::move(key));
            }
            m_idOfPosition.push_back(found.value());
        }
        if (m_pass.Style == ssNumeric || m_pass.Style == ssDateTime || m_pass.Style == ssTime) {
            m_values.resize(m_texts.size());
            m_converted.resize(m_texts.size());
            for (size_t i = 0; i < m_texts.size(); ++i)
                m_converted[i] = Convert(m_texts[i], m_values[i]);
        }
    }

    size_t DistinctCount() const { return m_texts.size(); }
    int IdOfPosition(size_t position) const { return m_idOfPosition[position]; }

    // The style's comparison of two distinct texts, direction not applied.
    int CompareTexts(int a, int b) const
    {
        const QString& x = m_texts[size_t(a)];
        const QString& y = m_texts[size_t(b)];
        switch (m_pass.Style) {
        case ssNumeric:
        case ssDateTime:
        case ssTime:
            if (m_converted[size_t(a)] && m_converted[size_t(b)])
                return CompareSign(m_values[size_t(a)] - m_values[size_t(b)]);
            return ComparePlainText(x, y);
        case ssNumericExtended:
            return CompareNumericExtended(x, y);
        case ssCustom:
            return (*m_pass.Custom)(x, y);
        case ssAutomatic:
        case ssNormal:
            break;
        }
        return ComparePlainText(x, y);
    }

private:
    bool Convert(const QString& text, double& value) const
    {
        switch (m_pass.Style) {
        case ssNumeric:
            return TextToFloat(text, value);
        case ssDateTime:
            return TextToDateTime(text, value);
        case ssTime:
            return TextToTime(text, value);
        default:
            return false;
        }
    }

    TSortKeyPass m_pass;
    std::vector<QString> m_texts;
    std::vector<int> m_idOfPosition;
    std::vector<double> m_values;
    std::vector<char> m_converted;
};

// Bottom-up merge sort over ids: few comparisons (they may be expensive
// custom ones), stable, and it never reads outside the ranges whatever the
// comparison answers.
template <typename Less> void MergeSort(std::vector<int>& items, Less less)
{
    const size_t n = items.size();
    std::vector<int> buffer(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t left = 0; left < n; left += 2 * width) {
            const size_t middle = std::min(left + width, n);
            const size_t right = std::min(left + 2 * width, n);
            size_t i = left;
            size_t j = middle;
            size_t k = left;
            while (i < middle && j < right)
                buffer[k++] = less(items[j], items[i]) ? items[j++] : items[i++];
            while (i < middle)
                buffer[k++] = items[i++];
            while (j < right)
                buffer[k++] = items[j++];
        }
        items.swap(buffer);
    }
}

} // namespace

std::vector<int> SortedPositions(std::vector<QString> keys, const TSortKeyPass& pass)
{
    const size_t count = keys.size();
    const TKeyComparer compare(std::move(keys), pass);

    // Rank the distinct texts; texts that compare equal share a rank.
    std::vector<int> distinct(compare.DistinctCount());
    for (size_t i = 0; i < distinct.size(); ++i)
        distinct[i] = int(i);
    MergeSort(distinct, [&compare](int a, int b) { return compare.CompareTexts(a, b) < 0; });
    std::vector<int> rank(distinct.size());
    int last = 0;
    for (size_t k = 0; k < distinct.size(); ++k) {
        if (k > 0 && compare.CompareTexts(distinct[k - 1], distinct[k]) != 0)
            ++last;
        rank[size_t(distinct[k])] = last;
    }
    if (pass.Descending) {
        for (int& r : rank)
            r = last - r;
    }

    // Then the positions by rank; equal ranks keep the positions' order.
    std::vector<int> start(size_t(last) + 2, 0);
    for (size_t p = 0; p < count; ++p)
        ++start[size_t(rank[size_t(compare.IdOfPosition(p))]) + 1];
    for (size_t r = 1; r < start.size(); ++r)
        start[r] += start[r - 1];
    std::vector<int> positions(count);
    for (size_t p = 0; p < count; ++p)
        positions[size_t(start[size_t(rank[size_t(compare.IdOfPosition(p))])]++)] = int(p);
    return positions;
}

std::vector<int> SortKeyColumns(int primary, const QString& secondaryIndex, int colCount)
{
    QStringList items = SplitCommaText(secondaryIndex);
    const QString primaryText = QString::number(primary);
    const qsizetype duplicate = items.indexOf(primaryText);
    if (duplicate >= 0)
        items.removeAt(duplicate);
    items.prepend(primaryText);

    std::vector<int> columns;
    columns.reserve(size_t(items.size()));
    const QLocale locale;
    for (const QString& item : items) {
        bool ok = false;
        const int column = locale.toInt(item, &ok);
        if (!ok)
            throw std::invalid_argument("'" + item.toStdString() + "' is not a valid integer value");
        if (column < 0 || column >= colCount)
            throw std::out_of_range("Sort column " + std::to_string(column) + " out of range");
        columns.push_back(column);
    }
    return columns;
}
