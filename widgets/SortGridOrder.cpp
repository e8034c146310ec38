#include "SortGridOrder.h"

#include <QLocale>
#include <algorithm>
#include <stdexcept>

namespace {

int Sign(double difference)
{
    return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

// Compares the texts of two positions under one pass. Values of the converting
// styles are computed once per text instead of once per comparison.
class TKeyComparer
{
public:
    TKeyComparer(std::vector<QString> keys, const TSortKeyPass& pass) : m_keys(std::move(keys)), m_pass(pass)
    {
        if (!m_pass.CaseSensitive) {
            for (QString& key : m_keys)
                key = AsciiLower(key);
        }
        if (m_pass.Style == ssCustom && (m_pass.Custom == nullptr || !*m_pass.Custom))
            m_pass.Style = ssNormal;
        if (m_pass.Style == ssNumeric || m_pass.Style == ssDateTime || m_pass.Style == ssTime) {
            m_values.resize(m_keys.size());
            m_converted.resize(m_keys.size());
            for (size_t i = 0; i < m_keys.size(); ++i)
                m_converted[i] = Convert(m_keys[i], m_values[i]);
        }
    }

    // Negative when position a goes before position b.
    int operator()(int a, int b) const
    {
        int result = CompareTexts(a, b);
        if (result == 0)
            return a < b ? -1 : (a > b ? 1 : 0);
        return m_pass.Descending ? -result : result;
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

    int CompareTexts(int a, int b) const
    {
        const QString& x = m_keys[size_t(a)];
        const QString& y = m_keys[size_t(b)];
        switch (m_pass.Style) {
        case ssNumeric:
        case ssDateTime:
        case ssTime:
            if (m_converted[size_t(a)] && m_converted[size_t(b)])
                return Sign(m_values[size_t(a)] - m_values[size_t(b)]);
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

    std::vector<QString> m_keys;
    TSortKeyPass m_pass;
    std::vector<double> m_values;
    std::vector<char> m_converted;
};

// Bottom-up merge sort over positions: O(n log n) comparisons whatever the
// comparison answers, and it never reads outside the ranges.
template <typename Less> void MergeSort(std::vector<int>& items, Less less)
{
    const size_t n = items.size();
    constexpr size_t kRun = 16;
    for (size_t start = 0; start < n; start += kRun) {
        const size_t end = std::min(start + kRun, n);
        for (size_t i = start + 1; i < end; ++i) {
            const int item = items[i];
            size_t j = i;
            while (j > start && less(item, items[j - 1])) {
                items[j] = items[j - 1];
                --j;
            }
            items[j] = item;
        }
    }
    std::vector<int> buffer(n);
    for (size_t width = kRun; width < n; width *= 2) {
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
    std::vector<int> positions(keys.size());
    for (size_t i = 0; i < positions.size(); ++i)
        positions[i] = int(i);
    const TKeyComparer compare(std::move(keys), pass);
    MergeSort(positions, [&compare](int a, int b) { return compare(a, b) < 0; });
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
