#include "WorkbookWriter.h"

#include "FileReplace.h"
#include "ReadCancel.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <algorithm>
#include <xlsxwriter.h>

namespace {

// Column widths are in characters of the default font; Excel allows up to 255.
constexpr double kMaxColumnWidth = 255;

bool AllDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; });
}

// Whole numbers of up to 15 digits stay exact in a double.
bool IsWholeNumber(QStringView text)
{
    return AllDigits(text) && text.size() <= 15 && (text.size() == 1 || text.front() != u'0');
}

double ColumnWidth(qsizetype longestText)
{
    return std::min(kMaxColumnWidth, std::max<double>(longestText, 2) * 1.15 + 2);
}

struct Formats
{
    lxw_format* header = nullptr;
    lxw_format* text = nullptr;
    lxw_format* whole = nullptr;
    lxw_format* time = nullptr;
};

Formats AddFormats(lxw_workbook* workbook)
{
    Formats f{workbook_add_format(workbook), workbook_add_format(workbook), workbook_add_format(workbook),
              workbook_add_format(workbook)};
    for (lxw_format* format : {f.header, f.text, f.whole, f.time})
        format_set_border(format, LXW_BORDER_THIN);
    format_set_bold(f.header);
    format_set_num_format(f.whole, "0");
    format_set_num_format(f.time, "0.00");
    return f;
}

lxw_error WriteCell(lxw_worksheet* sheet, int row, int col, const QString& text, const Formats& formats,
                    const QLocale& locale)
{
    if (text.isEmpty())
        return worksheet_write_blank(sheet, lxw_row_t(row), lxw_col_t(col),
                                     row == 0 ? formats.header : formats.text);
    if (row == 0)
        return worksheet_write_string(sheet, 0, lxw_col_t(col), text.toUtf8().constData(), formats.header);
    const CellNumber number = ProtocolCellNumber(text, locale);
    if (number.isNumber)
        return worksheet_write_number(sheet, lxw_row_t(row), lxw_col_t(col), number.value,
                                      number.decimals == 0 ? formats.whole : formats.time);
    return worksheet_write_string(sheet, lxw_row_t(row), lxw_col_t(col), text.toUtf8().constData(),
                                  formats.text);
}

// Writes the workbook to path; LXW_NO_ERROR or the first error met.
// A text in a page header, where "&" starts a code.
QByteArray HeaderText(const QString& text)
{
    return QString(text).replace(u'&', QStringLiteral("&&")).toUtf8();
}

// Landscape, one page wide, the header row on every page, list and date on top.
lxw_error SetUpPages(lxw_worksheet* sheet, const WorkbookPageHeader& header)
{
    worksheet_set_landscape(sheet);
    worksheet_set_paper(sheet, 9); // A4
    worksheet_fit_to_pages(sheet, 1, 0);
    lxw_error result = worksheet_repeat_rows(sheet, 0, 0);
    QByteArray text;
    if (!header.ListName.isEmpty())
        text += "&L" + HeaderText(header.ListName.left(100));
    if (header.Date.isValid())
        text += "&R" + HeaderText(header.Date.toString(QStringLiteral("dd.MM.yyyy")));
    if (result == LXW_NO_ERROR && !text.isEmpty())
        result = worksheet_set_header(sheet, text.constData());
    return result;
}

lxw_error WriteWorkbook(const QString& path, const QString& tempFolder, const ProtocolTable& block,
                        const QString& sheetName, const WorkbookPageHeader& header)
{
    const QByteArray pathBytes = QFile::encodeName(path);
    QByteArray tempBytes = QFile::encodeName(tempFolder);
    lxw_workbook_options options{};
    options.constant_memory = 1; // rows go out in order; memory stays small for long lists
    options.tmpdir = tempBytes.data();
    lxw_workbook* workbook = workbook_new_opt(pathBytes.constData(), &options);
    if (!workbook)
        return LXW_ERROR_CREATING_TMPFILE;
    const Formats formats = AddFormats(workbook);
    const QByteArray name = sheetName.toUtf8();
    lxw_error result = workbook_validate_sheet_name(workbook, name.constData());
    lxw_worksheet* sheet =
        result == LXW_NO_ERROR ? workbook_add_worksheet(workbook, name.constData()) : nullptr;
    if (!sheet && result == LXW_NO_ERROR)
        result = LXW_ERROR_MEMORY_MALLOC_FAILED;
    if (result == LXW_NO_ERROR)
        result = SetUpPages(sheet, header);

    qsizetype columns = 0;
    for (const QStringList& row : block)
        columns = std::max(columns, row.size());
    // Widths go before the first row: with constant memory, columns are fixed once rows are out.
    for (qsizetype col = 0; col < columns && result == LXW_NO_ERROR; ++col) {
        qsizetype longest = 0;
        for (const QStringList& row : block)
            longest = std::max(longest, col < row.size() ? row[col].size() : 0);
        result = worksheet_set_column(sheet, lxw_col_t(col), lxw_col_t(col), ColumnWidth(longest), nullptr);
    }
    const QLocale locale;
    for (qsizetype row = 0; row < block.size() && result == LXW_NO_ERROR; ++row) {
        for (qsizetype col = 0; col < columns && result == LXW_NO_ERROR; ++col) {
            const QStringList& cells = block[row];
            result = WriteCell(sheet, int(row), int(col), col < cells.size() ? cells[col] : QString(),
                               formats, locale);
        }
    }

    QByteArray author("Tarnvik Software");
    lxw_doc_properties properties{};
    properties.author = author.data();
    if (result == LXW_NO_ERROR)
        result = workbook_set_properties(workbook, &properties);
    // Closing writes the file; it also frees the workbook whatever went wrong before.
    const lxw_error closed = workbook_close(workbook);
    return result != LXW_NO_ERROR ? result : closed;
}

} // namespace

CellNumber ProtocolCellNumber(const QString& text, const QLocale& locale)
{
    if (IsWholeNumber(text))
        return {true, text.toDouble(), 0};
    const QString point = locale.decimalPoint();
    const qsizetype at = text.size() - 2 - point.size();
    if (at < 1 || QStringView(text).sliced(at, point.size()) != point)
        return {};
    const QStringView whole = QStringView(text).first(at);
    const QStringView hundredths = QStringView(text).sliced(at + point.size());
    if (!IsWholeNumber(whole) || !AllDigits(hundredths))
        return {};
    return {true, whole.toDouble() + hundredths.toInt() / 100.0, 2};
}

bool ProtocolWorkbookBytes(const ProtocolTable& block, const QString& sheetName, QByteArray& bytes,
                           QString& reason, const WorkbookPageHeader& header)
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        reason = folder.errorString();
        return false;
    }
    const QString path = folder.filePath(QStringLiteral("protokoll.xlsx"));
    const lxw_error result = WriteWorkbook(path, folder.path(), block, sheetName, header);
    if (result != LXW_NO_ERROR) {
        reason = QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        reason = file.errorString();
        return false;
    }
    return true;
}

bool SaveProtocolWorkbook(const QString& fileName, const ProtocolTable& block, const QString& sheetName,
                          QString& error, const WorkbookPageHeader& header)
{
    QByteArray bytes;
    QString reason;
    // Called off while it was built: the file stays as it was.
    if (ProtocolWorkbookBytes(block, sheetName, bytes, reason, header) && !ReadCancelled() &&
        ReplaceFileContents(fileName, bytes, reason))
        return true;
    error = QStringLiteral("Die Arbeitsmappe %1 konnte nicht gespeichert werden: %2")
                .arg(QDir::toNativeSeparators(fileName), reason);
    return false;
}
