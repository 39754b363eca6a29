// The spreadsheet export read back from the .xlsx package: title and header
// lines, figures as numbers with the grid's display format, text as text,
// blanks as empty cells, and a failed write that leaves no file behind.
#include "foundation/gridbuffer.h"
#include "host/xlsxexport.h"
#include "support/testdb.h"

#include <QFile>
#include <QHash>
#include <QProcess>
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
        const QByteArray sheet = part(path, QStringLiteral("xl/worksheets/sheet1.xml"));
        const QByteArray styles = part(path, QStringLiteral("xl/styles.xml"));
        if (sheet.isEmpty() || styles.isEmpty())
            return false;
        readStrings(part(path, QStringLiteral("xl/sharedStrings.xml")));
        readStyles(styles);
        readSheet(sheet);
        workbook = QString::fromUtf8(part(path, QStringLiteral("xl/workbook.xml")));
        return true;
    }
    Cell cell(const QString& ref) const { return m_cells.value(ref); }
    QStringList merges;
    QString workbook;

private:
    static QByteArray part(const QString& zip, const QString& name)
    {
        QProcess p;
        p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, name});
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    }
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
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".part")));
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

TEST_P(XlsxTest, AFailedWriteLeavesNothingAndAnExistingFileIsReplaced)
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
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old contents");
    }
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
