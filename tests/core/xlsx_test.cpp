// SPDX-License-Identifier: GPL-3.0-or-later
// The spreadsheet export read back from the .xlsx package: title and header
// lines, figures as numbers with the grid's display format, text as text,
// blanks as empty cells, and an earlier file replaced.
#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"
#include "foundation/version.h"
#include "host/xlsxexport.h"
#include "support/files.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStandardPaths>
#include <QXmlStreamReader>

namespace {

// One cell of sheet1.xml, with its style resolved to a number format code.
struct Cell
{
    QString type;   // t attribute: "s", "inlineStr", "str", "n" or empty (a number)
    QString value;  // <v> or the shared/inline string
    QString format; // number format code; "General" when none
    bool present = false;
};

class XlsxPackage final
{
public:
    bool load(const QString& path)
    {
        const QByteArray sheet = zipPart(path, QStringLiteral("xl/worksheets/sheet1.xml"));
        const QByteArray styles = zipPart(path, QStringLiteral("xl/styles.xml"));
        if (sheet.isEmpty() || styles.isEmpty())
            return false;
        readStrings(zipPart(path, QStringLiteral("xl/sharedStrings.xml")));
        readStyles(styles);
        readSheet(sheet);
        workbook = QString::fromUtf8(zipPart(path, QStringLiteral("xl/workbook.xml")));
        sheetXml = QString::fromUtf8(sheet);
        return true;
    }
    Cell cell(const QString& ref) const { return m_cells.value(ref); }
    QStringList merges;
    QString workbook;
    QString sheetXml;

private:
    void readStrings(const QByteArray& xml)
    {
        QXmlStreamReader r(xml);
        QString current;
        bool inSi = false;
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == u"si") {
                inSi = true;
                current.clear();
            } else if (r.isStartElement() && r.name() == u"t" && inSi) {
                current += r.readElementText();
            } else if (r.isEndElement() && r.name() == u"si") {
                m_strings << current;
                inSi = false;
            }
        }
    }
    void readStyles(const QByteArray& xml)
    {
        // Built-in formats the export may use.
        QHash<int, QString> codes{{0, QStringLiteral("General")},
                                  {1, QStringLiteral("0")},
                                  {2, QStringLiteral("0.00")},
                                  {9, QStringLiteral("0%")},
                                  {10, QStringLiteral("0.00%")}};
        QXmlStreamReader r(xml);
        bool inCellXfs = false;
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == u"numFmt")
                codes.insert(r.attributes().value(QLatin1String("numFmtId")).toInt(),
                             r.attributes().value(QLatin1String("formatCode")).toString());
            else if (r.isStartElement() && r.name() == u"cellXfs")
                inCellXfs = true;
            else if (r.isEndElement() && r.name() == u"cellXfs")
                inCellXfs = false;
            else if (inCellXfs && r.isStartElement() && r.name() == u"xf")
                m_xfFormats << codes.value(r.attributes().value(QLatin1String("numFmtId")).toInt(),
                                           QStringLiteral("?"));
        }
    }
    void readSheet(const QByteArray& xml)
    {
        QXmlStreamReader r(xml);
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == u"mergeCell")
                merges << r.attributes().value(QLatin1String("ref")).toString();
            if (!r.isStartElement() || r.name() != u"c")
                continue;
            Cell c;
            c.present = true;
            const QString ref = r.attributes().value(QLatin1String("r")).toString();
            c.type = r.attributes().value(QLatin1String("t")).toString();
            c.format = m_xfFormats.value(r.attributes().value(QLatin1String("s")).toInt(),
                                         QStringLiteral("General"));
            while (!(r.isEndElement() && r.name() == u"c") && !r.atEnd()) {
                r.readNext();
                if (r.isStartElement() && r.name() == u"v")
                    c.value = r.readElementText();
                else if (r.isStartElement() && r.name() == u"t")
                    c.value = r.readElementText();
            }
            if (c.type == u"s")
                c.value = m_strings.value(c.value.toInt());
            m_cells.insert(ref, c);
        }
    }

    QStringList m_strings;
    QStringList m_xfFormats;
    QHash<QString, Cell> m_cells;
};

// A small report-like grid: type, name, a figure that is a percentage when
// flag2 is 1, a whole-number row order, flag2 hidden.
GridLayout smallLayout()
{
    GridLayout l;
    l.name = QStringLiteral("d_small");
    l.query =
        QStringLiteral("SELECT s_zbfa.zblx, s_zbfa.zbmc, t_stat.qichu, t_stat.hh, s_zbfa.flag2 FROM t_stat, "
                       "s_zbfa WHERE t_stat.zbbm = s_zbfa.zbbm AND s_zbfa.fabm = ? ORDER BY t_stat.hh");
    l.arguments = {QStringLiteral("li_fabm")};
    GridColumn type;
    type.name = QStringLiteral("s_zbfa_zblx");
    type.header = QStringLiteral("类型");
    GridColumn name = type;
    name.name = QStringLiteral("s_zbfa_zbmc");
    name.header = QStringLiteral("项目");
    GridColumn figure;
    figure.name = QStringLiteral("qichu");
    figure.type = ColumnType::Decimal;
    figure.header = QStringLiteral("期初数");
    figure.alignment = Qt::AlignRight | Qt::AlignVCenter;
    figure.maskByColumn = QStringLiteral("s_zbfa_flag2");
    GridColumn order;
    order.name = QStringLiteral("hh");
    order.type = ColumnType::Integer;
    order.header = QStringLiteral("行序");
    GridColumn flag2;
    flag2.name = QStringLiteral("s_zbfa_flag2");
    flag2.type = ColumnType::Number;
    flag2.visible = false;
    flag2.width = 0;
    l.columns = {type, name, figure, order, flag2};
    GridText title;
    title.name = QStringLiteral("t_1");
    title.text = QStringLiteral("项目进度及借款质量表");
    title.pointSize = 18;
    title.bold = true;
    GridText period;
    period.name = QStringLiteral("t_qijian");
    period.text = QStringLiteral("报表期间：");
    period.alignment = Qt::AlignLeft;
    period.line = 1;
    GridText unit = period;
    unit.name = QStringLiteral("t_qymc");
    unit.text = QStringLiteral("区域名称：");
    unit.alignment = Qt::AlignRight;
    l.texts = {title, period, unit};
    return l;
}

class XlsxTest : public BackendTest
{
protected:
    void fill()
    {
        const QList<QVariantList> rows = {
            {QStringLiteral("0001"), QStringLiteral("互助金规模"), QStringLiteral("互助金总额"),
             QStringLiteral("1234.5"), 10, 0},
            {QStringLiteral("0002"), QStringLiteral("比率"), QStringLiteral("还款率"),
             QStringLiteral("0.9567"), 20, 1},
            {QStringLiteral("0003"), QVariant(), QStringLiteral("逾期率"), QVariant(), 30, 1},
            {QStringLiteral("0004"), QStringLiteral("还款"), QStringLiteral("实际还款金额"),
             QStringLiteral("-0.5"), 40, 0},
        };
        for (const QVariantList& r : rows) {
            db->exec(
                QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, flag2) VALUES "
                               "(1, 1, ?, ?, ?, ?, ?, ?)"),
                {QStringLiteral("预设方案"), r[4], r[0], r[1], r[2], r[5]});
            db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, hh) VALUES (?, ?, ?)"),
                     {r[0], r[3], r[4]});
        }
    }
};

TEST_P(XlsxTest, FiguresAreNumbersWithTheGridsFormats)
{
    fill();
    GridBuffer grid(smallLayout());
    grid.SetTransObject(&sqlca());
    ASSERT_EQ(grid.Retrieve({1}), 4) << sqlca().SQLErrText.toStdString();
    grid.setText(QStringLiteral("t_qijian"), QStringLiteral("报表期间：2024年3月"));
    grid.setText(QStringLiteral("t_qymc"), QStringLiteral("项目区：青禾省"));
    // A blank text cell besides the null one from the database.
    grid.SetItem(4, QStringLiteral("s_zbfa_zblx"), QString());

    const QString path = db->dir() + QStringLiteral("/out.xlsx");
    const Status s = writeXlsx(grid, path);
    ASSERT_TRUE(s.ok) << s.error.toStdString();
    EXPECT_TRUE(QDir(db->dir()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());
    XlsxPackage x;
    ASSERT_TRUE(x.load(path));

    // Title, then period and unit on one line, each merged; the sheet named after the title.
    EXPECT_EQ(x.cell(QStringLiteral("A1")).value, QStringLiteral("项目进度及借款质量表"));
    EXPECT_TRUE(x.merges.contains(QStringLiteral("A1:E1"))) << x.merges.join(u' ').toStdString();
    EXPECT_EQ(x.cell(QStringLiteral("A2")).value, QStringLiteral("报表期间：2024年3月"));
    EXPECT_EQ(x.cell(QStringLiteral("C2")).value, QStringLiteral("项目区：青禾省"));
    EXPECT_TRUE(x.workbook.contains(QStringLiteral("name=\"项目进度及借款质量表\"")))
        << x.workbook.toStdString();

    // The column headers, the row number first and the hidden column left out.
    const QStringList headers = {QStringLiteral("序号"), QStringLiteral("类型"), QStringLiteral("项目"),
                                 QStringLiteral("期初数"), QStringLiteral("行序")};
    for (int c = 0; c < headers.size(); ++c)
        EXPECT_EQ(x.cell(QString(QChar(u'A' + c)) + u'3').value, headers[c]);
    EXPECT_FALSE(x.cell(QStringLiteral("F3")).present);

    // Row numbers and figures are numbers; text is text.
    const Cell number = x.cell(QStringLiteral("A5"));
    EXPECT_TRUE(number.type.isEmpty() || number.type == u"n");
    EXPECT_EQ(number.value, QStringLiteral("2"));
    const Cell text = x.cell(QStringLiteral("C4"));
    EXPECT_TRUE(text.type == u"s" || text.type == u"inlineStr") << text.type.toStdString();
    EXPECT_EQ(text.value, QStringLiteral("互助金总额"));

    const Cell money = x.cell(QStringLiteral("D4"));
    EXPECT_TRUE(money.type.isEmpty() || money.type == u"n");
    EXPECT_DOUBLE_EQ(money.value.toDouble(), 1234.5);
    EXPECT_EQ(money.format, QStringLiteral("0.00"));
    const Cell ratio = x.cell(QStringLiteral("D5"));
    EXPECT_TRUE(ratio.type.isEmpty() || ratio.type == u"n");
    EXPECT_NEAR(ratio.value.toDouble(), sqlca().backend() == Backend::SQLite ? 0.9567 : 0.96, 1e-9);
    EXPECT_EQ(ratio.format, QStringLiteral("0%"));
    const Cell negative = x.cell(QStringLiteral("D7"));
    EXPECT_DOUBLE_EQ(negative.value.toDouble(), -0.5);
    EXPECT_EQ(x.cell(QStringLiteral("E7")).value, QStringLiteral("40"));

    // Null figure and blank texts: cells without a value (the border stays), never 0 or "".
    for (const char* ref : {"D6", "B6", "B7"}) {
        const Cell blank = x.cell(QString::fromLatin1(ref));
        EXPECT_TRUE(blank.value.isEmpty()) << ref << " holds " << blank.value.toStdString();
        EXPECT_TRUE(blank.type.isEmpty()) << ref;
    }
    EXPECT_FALSE(x.cell(QStringLiteral("A8")).present);
}

// Whether a failed write leaves the earlier file as it was (a full disk, a
// file-size limit): safe_output_test.
TEST_P(XlsxTest, AnExistingFileIsReplacedAndAMissingFolderIsNamed)
{
    fill();
    GridBuffer grid(smallLayout());
    grid.SetTransObject(&sqlca());
    ASSERT_EQ(grid.Retrieve({1}), 4);

    const Status missingFolder = writeXlsx(grid, db->dir() + QStringLiteral("/no/such/folder/out.xlsx"));
    EXPECT_FALSE(missingFolder.ok);
    EXPECT_TRUE(missingFolder.error.contains(QStringLiteral("does not exist")))
        << missingFolder.error.toStdString();

    const QString path = db->dir() + QStringLiteral("/again.xlsx");
    writeFile(path, "old contents");
    ASSERT_TRUE(writeXlsx(grid, path).ok);
    XlsxPackage x;
    ASSERT_TRUE(x.load(path));
    EXPECT_EQ(x.cell(QStringLiteral("C4")).value, QStringLiteral("互助金总额"));

    // An empty grid still gives the title and the header row.
    grid.Reset();
    ASSERT_TRUE(writeXlsx(grid, path).ok);
    XlsxPackage empty;
    ASSERT_TRUE(empty.load(path));
    EXPECT_EQ(empty.cell(QStringLiteral("B3")).value, QStringLiteral("类型"));
    EXPECT_FALSE(empty.cell(QStringLiteral("A4")).present);
}

// The attributes of the first element `element` of an XML text.
QXmlStreamAttributes attributesOf(const QString& xml, const QString& element)
{
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == element)
            return r.attributes();
    }
    return {};
}

// Every element `element` of an XML text: its attributes and text.
QList<QPair<QXmlStreamAttributes, QString>> elementsOf(const QString& xml, const QString& element)
{
    QList<QPair<QXmlStreamAttributes, QString>> found;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == element) {
            const QXmlStreamAttributes a = r.attributes();
            found.append({a, r.readElementText(QXmlStreamReader::IncludeChildElements)});
        }
    }
    return found;
}

// A lower bound for the width a text needs in any face, in the spreadsheet's
// character units (7 pixels at 96 dpi): a CJK character is one em, a Latin
// character or digit at least half of one.
double leastUnits(const QString& text, double points)
{
    double ems = 0;
    for (const QChar c : text)
        ems += c.unicode() >= 0x2E80 ? 1.0 : 0.5;
    return ems * points * 96 / 72 / 7;
}

TEST_P(XlsxTest, EverySheetPrintsOnePageWideWithItsTopRowsOnEveryPage)
{
    fill();
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, flag2) VALUES "
                            "(1, 1, ?, 50, '0005', ?, ?, 0)"),
             {QStringLiteral("预设方案"), QStringLiteral("借款余额"), QStringLiteral("借款余额合计")});
    db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, hh) VALUES ('0005', 15310000, 50)"));
    GridBuffer grid(smallLayout());
    grid.SetTransObject(&sqlca());
    ASSERT_EQ(grid.Retrieve({1}), 5);
    const QString unitLine = QStringLiteral("项目区：青禾省清河市白水县东岭镇互助资金试点项目区");
    grid.setText(QStringLiteral("t_qijian"), QStringLiteral("报表期间：2024年3月"));
    grid.setText(QStringLiteral("t_qymc"), unitLine);
    grid.setOrientation(1);

    // Two sheets of one title in one workbook, as a workbook per region holds them.
    const QString path = db->dir() + QStringLiteral("/pages.xlsx");
    {
        XlsxWorkbook book(path);
        ASSERT_TRUE(book.addSheet(grid).ok);
        grid.setOrientation(2);
        ASSERT_TRUE(book.addSheet(grid).ok);
        ASSERT_TRUE(book.commit().ok);
    }
    EXPECT_TRUE(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), path}).ok);

    // The title, the period and unit line and the column header repeat on every page of each sheet.
    const QString workbook = QString::fromUtf8(zipPart(path, QStringLiteral("xl/workbook.xml")));
    const auto names = elementsOf(workbook, QStringLiteral("definedName"));
    const auto sheets = elementsOf(workbook, QStringLiteral("sheet"));
    ASSERT_EQ(sheets.size(), 2);
    EXPECT_NE(sheets[0].first.value(QLatin1String("name")), sheets[1].first.value(QLatin1String("name")));
    QStringList titles;
    for (const auto& [a, text] : names)
        if (a.value(QLatin1String("name")) == u"_xlnm.Print_Titles")
            titles << a.value(QLatin1String("localSheetId")).toString() + u' ' + text;
    titles.sort();
    ASSERT_EQ(titles.size(), 2) << workbook.toStdString();
    EXPECT_EQ(titles[0], QStringLiteral("0 '%1'!$1:$3").arg(sheets[0].first.value(QLatin1String("name"))));
    EXPECT_EQ(titles[1], QStringLiteral("1 '%1'!$1:$3").arg(sheets[1].first.value(QLatin1String("name"))));

    for (int n = 1; n <= 2; ++n) {
        const QString sheet =
            QString::fromUtf8(zipPart(path, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n)));
        // A4, the grid's orientation, one page wide and as many down as needed.
        const QXmlStreamAttributes page = attributesOf(sheet, QStringLiteral("pageSetup"));
        EXPECT_EQ(page.value(QLatin1String("paperSize")), u"9") << sheet.toStdString();
        EXPECT_EQ(page.value(QLatin1String("orientation")), n == 1 ? u"landscape" : u"portrait");
        const auto wide = page.value(QLatin1String("fitToWidth")); // 1 when left out
        EXPECT_TRUE(wide.isEmpty() || wide == u"1") << wide.toString().toStdString();
        EXPECT_EQ(page.value(QLatin1String("fitToHeight")), u"0");
        EXPECT_EQ(attributesOf(sheet, QStringLiteral("pageSetUpPr")).value(QLatin1String("fitToPage")), u"1");
        const QXmlStreamAttributes margins = attributesOf(sheet, QStringLiteral("pageMargins"));
        for (const char* side : {"left", "right", "top", "bottom"}) {
            const double inches = margins.value(QLatin1String(side)).toDouble();
            EXPECT_GE(inches, 0.39) << side; // 10 mm
            EXPECT_LE(inches, 1.0) << side;
        }
        const auto footer = elementsOf(sheet, QStringLiteral("oddFooter"));
        ASSERT_EQ(footer.size(), 1);
        EXPECT_EQ(footer[0].second, QStringLiteral("&C第 &P 页 / 共 &N 页"));

        // Columns wide enough for their texts; the unit line fits its right half and the
        // title the whole table, so neither is cut nor a figure shown as ####.
        QList<double> widths;
        for (const auto& [a, text] : elementsOf(sheet, QStringLiteral("col")))
            for (int c = a.value(QLatin1String("min")).toInt(); c <= a.value(QLatin1String("max")).toInt();
                 ++c)
                widths << a.value(QLatin1String("width")).toDouble();
        ASSERT_EQ(widths.size(), 5);
        EXPECT_GE(widths[3], leastUnits(QStringLiteral("15310000.00"), 11) + 1);
        EXPECT_GE(widths[2], leastUnits(QStringLiteral("借款余额合计"), 11) + 1);
        EXPECT_GE(widths[2] + widths[3] + widths[4], leastUnits(unitLine, 10) + 1); // the layout's 10 pt
        EXPECT_GE(widths[0] + widths[1] + widths[2] + widths[3] + widths[4],
                  leastUnits(QStringLiteral("项目进度及借款质量表"), 18) + 1);
    }
}

TEST_P(XlsxTest, PropertiesNameTheProgramRegionAndPeriod)
{
    fill();
    GridBuffer grid(smallLayout());
    grid.SetTransObject(&sqlca());
    ASSERT_EQ(grid.Retrieve({1}), 4);
    grid.setText(QStringLiteral("t_qijian"), QStringLiteral("报表期间：2024年3月"));
    grid.setText(QStringLiteral("t_qymc"), QStringLiteral("项目区：青禾省"));
    const QString path = db->dir() + QStringLiteral("/properties.xlsx");
    ASSERT_TRUE(writeXlsx(grid, path).ok);

    const QString app = QString::fromUtf8(zipPart(path, QStringLiteral("docProps/app.xml")));
    const auto application = elementsOf(app, QStringLiteral("Application"));
    ASSERT_EQ(application.size(), 1) << app.toStdString();
    EXPECT_EQ(application[0].second, QStringLiteral("allstats ") + allstatsVersion());
    EXPECT_FALSE(allstatsVersion().isEmpty());
    EXPECT_FALSE(app.contains(QStringLiteral("Microsoft"))) << app.toStdString();

    const QString core = QString::fromUtf8(zipPart(path, QStringLiteral("docProps/core.xml")));
    auto property = [&](const char* name) {
        const auto found = elementsOf(core, QString::fromLatin1(name));
        return found.isEmpty() ? QString() : found[0].second;
    };
    EXPECT_EQ(property("title"), QStringLiteral("项目进度及借款质量表 青禾省 2024年3月"))
        << core.toStdString();
    EXPECT_EQ(property("subject"), QStringLiteral("项目进度及借款质量表"));
    EXPECT_FALSE(property("creator").isEmpty());
    // The package still reads as a workbook: its sheet is there.
    XlsxPackage x;
    ASSERT_TRUE(x.load(path));
    EXPECT_EQ(x.cell(QStringLiteral("C4")).value, QStringLiteral("互助金总额"));
}

TEST(XlsxSheetName, FitsTheSpreadsheetRules)
{
    EXPECT_EQ(xlsxSheetName(QStringLiteral(" 方案3统计指标 ")), QStringLiteral("方案3统计指标"));
    EXPECT_EQ(xlsxSheetName(QStringLiteral("a/b\\c[d]e:f*g?h")), QStringLiteral("abcdefgh"));
    EXPECT_EQ(xlsxSheetName(QString(40, u'表')).size(), 31);
    EXPECT_EQ(xlsxSheetName(QStringLiteral("'x'")), QStringLiteral("x"));
    EXPECT_EQ(xlsxSheetName(QStringLiteral("  ")), QStringLiteral("Sheet1"));
}

} // namespace

ALLSTATS_ON_ALL_BACKENDS(XlsxTest);
