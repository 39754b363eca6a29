// SPDX-License-Identifier: GPL-3.0-or-later
// Printed grids: pages, the column header on every page, real text, embedded
// CJK fonts and the orientation, checked on the PDF with poppler's tools.
#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"
#include "report/d_xmjdzl.h"
#include "support/files.h"
#include "support/layouts.h"
#include "support/testdb.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QScopeGuard>
#include <ctime>

namespace {

class GridPrintTest : public BackendTest
{
protected:
    void fill(int rows)
    {
        ASSERT_TRUE(sqlca().begin());
        for (int i = 1; i <= rows; ++i) {
            const QString code = QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
            db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) "
                                    "VALUES (1, 1, ?, ?, ?, ?, ?, 1, ?)"),
                     {QStringLiteral("标准方案"), i * 10, code, QStringLiteral("类别%1").arg((i - 1) / 7 + 1),
                      QStringLiteral("互助金指标第%1项").arg(i), i % 5 == 0 ? 1 : 0});
            db->exec(
                QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji, hh) VALUES (?, ?, ?, ?, ?)"),
                {code, i % 5 == 0 ? QStringLiteral("0.125") : QStringLiteral("%1.25").arg(i * 1000),
                 QStringLiteral("%1.5").arg(i), QStringLiteral("%1.75").arg(i * 1001), i * 10});
        }
        ASSERT_TRUE(sqlca().commit());
    }

    std::unique_ptr<GridBuffer> retrieved(int orientation)
    {
        auto g = std::make_unique<GridBuffer>(d_xmjdzl());
        g->SetTransObject(&sqlca());
        g->setOrientation(orientation);
        EXPECT_GE(g->Retrieve({1}), 0) << sqlca().SQLErrText.toStdString();
        g->setText(QStringLiteral("t_qijian"), QStringLiteral("报表期间：2024年3月"));
        g->setText(QStringLiteral("t_qymc"), QStringLiteral("区域名称：城关镇东关村互助社"));
        return g;
    }

    QString writeAndKeep(const GridBuffer& g, const QString& name)
    {
        const QString path = QDir(db->dir()).filePath(name);
        QString error;
        EXPECT_TRUE(writePdf(g, path, &error)) << error.toStdString();
        // Kept for a look by eye when asked to.
        if (const QString keep = qEnvironmentVariable("ALLSTATS_KEEP_PDF"); !keep.isEmpty()) {
            QFile::remove(QDir(keep).filePath(name));
            QFile::copy(path, QDir(keep).filePath(name));
        }
        return path;
    }
};

TEST_P(GridPrintTest, ALongGridPrintsOnPagesEachWithTheColumnHeader)
{
    fill(200);
    auto g = retrieved(2);
    ASSERT_EQ(g->RowCount(), 200);
    const QString path = writeAndKeep(*g, QStringLiteral("report-portrait.pdf"));
    const int pages = GridPrinter(*g).pageCount();
    EXPECT_GT(pages, 1);

    const QString text = pdfText(path, true);
    QStringList pageTexts = text.split(QLatin1Char('\f'));
    if (!pageTexts.isEmpty() && pageTexts.last().trimmed().isEmpty())
        pageTexts.removeLast();
    ASSERT_EQ(pageTexts.size(), pages);
    for (int i = 0; i < pages; ++i) {
        const QString& t = pageTexts[i];
        for (const QString& header :
             {QStringLiteral("序号"), QStringLiteral("类型"), QStringLiteral("项目"),
              QStringLiteral("期初数"), QStringLiteral("发生数"), QStringLiteral("累计数")})
            EXPECT_TRUE(t.contains(header)) << "page " << i + 1 << " lacks " << header.toStdString();
        EXPECT_TRUE(t.contains(QStringLiteral("项目进度及借款质量表")));
        EXPECT_TRUE(t.contains(QStringLiteral("第 %1 页 / 共 %2 页").arg(i + 1).arg(pages)))
            << t.toStdString();
    }
    // Every row is printed once, with its figures under their masks.
    EXPECT_TRUE(text.contains(QStringLiteral("互助金指标第1项")));
    EXPECT_TRUE(text.contains(QStringLiteral("互助金指标第200项")));
    EXPECT_TRUE(text.contains(QStringLiteral("城关镇东关村互助社")));
    EXPECT_TRUE(text.contains(QStringLiteral("1000.25")));
    EXPECT_TRUE(text.contains(QStringLiteral("13%")));
    EXPECT_EQ(text.count(QStringLiteral("互助金指标第")), 200);

    const ToolRun fonts = runTool(QStringLiteral("pdffonts"), {path});
    ASSERT_TRUE(fonts.ok);
    const QStringList lines = QString::fromUtf8(fonts.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 2) << fonts.out.toStdString();
    // name type encoding emb sub uni object ID: "emb" is the fourth column from the right of the id.
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList cols = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        ASSERT_GE(cols.size(), 6);
        EXPECT_EQ(cols[cols.size() - 5], QStringLiteral("yes")) << lines[i].toStdString();
    }
}

TEST_P(GridPrintTest, LandscapePagesAreWiderThanTallAndHoldFewerRows)
{
    fill(60);
    auto portrait = retrieved(2);
    auto landscape = retrieved(1);
    EXPECT_GT(GridPrinter(*landscape).pageCount(), GridPrinter(*portrait).pageCount());
    const QString path = writeAndKeep(*landscape, QStringLiteral("report-landscape.pdf"));
    const ToolRun info = runTool(QStringLiteral("pdfinfo"), {path});
    const auto m = QRegularExpression(QStringLiteral(R"(Page size:\s+([\d.]+) x ([\d.]+))"))
                       .match(QString::fromUtf8(info.out));
    ASSERT_TRUE(m.hasMatch()) << info.out.toStdString();
    EXPECT_GT(m.captured(1).toDouble(), m.captured(2).toDouble());
    EXPECT_NEAR(m.captured(1).toDouble(), 841.9, 1.0);
}

TEST_P(GridPrintTest, AnEmptyGridStillPrintsItsTitleAndHeader)
{
    auto g = retrieved(2);
    ASSERT_EQ(g->RowCount(), 0);
    GridPrinter printer(*g);
    EXPECT_EQ(printer.pageCount(), 1);
    const QString path = writeAndKeep(*g, QStringLiteral("report-empty.pdf"));
    const QString text = pdfText(path);
    EXPECT_TRUE(text.contains(QStringLiteral("项目进度及借款质量表")));
    EXPECT_TRUE(text.contains(QStringLiteral("报表期间：2024年3月")));
    EXPECT_TRUE(text.contains(QStringLiteral("累计数")));
    EXPECT_TRUE(text.contains(QStringLiteral("第 1 页 / 共 1 页")));

    QString error;
    EXPECT_FALSE(writePdf(*g, QDir(db->dir()).filePath(QStringLiteral("no/such/folder/x.pdf")), &error));
    EXPECT_FALSE(error.isEmpty());

    // A printer kept by a view lays the pages out again when the rows change.
    fill(100);
    ASSERT_EQ(g->Retrieve({1}), 100);
    EXPECT_GT(printer.pageCount(), 1);
}

TEST_P(GridPrintTest, RowColoursPrintAsOnScreenUnlessSwitchedOff)
{
    fill(4);
    auto g = retrieved(2);
    GridPrinter printer(*g);
    const QSizeF paper = printer.paperSize();
    auto render = [&] {
        QImage image(int(paper.width()), int(paper.height()), QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(72 / 0.0254));
        image.setDotsPerMeterY(qRound(72 / 0.0254));
        image.fill(Qt::white);
        QPainter p(&image);
        printer.paintPreview(p, 1, QRectF(QPointF(0, 0), paper), false, false);
        return image;
    };
    auto countTint = [](const QImage& img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += img.pixel(x, y) == qRgb(255, 235, 255);
        return n;
    };
    EXPECT_GT(countTint(render()), 1000);
    if (const QString keep = qEnvironmentVariable("ALLSTATS_KEEP_PDF"); !keep.isEmpty()) {
        // A preview as a 96 dpi screen shows it, with outline and rulers, for a look by eye.
        QImage screen(int(paper.width() * 1.4) + 40, int(paper.height() * 1.4) + 40, QImage::Format_RGB32);
        screen.setDotsPerMeterX(qRound(96 / 0.0254));
        screen.setDotsPerMeterY(qRound(96 / 0.0254));
        screen.fill(QColor(128, 128, 128));
        QPainter p(&screen);
        printer.paintPreview(p, 1, QRectF(QPointF(20, 20), paper * 1.4), true, true);
        p.end();
        screen.save(QDir(keep).filePath(QStringLiteral("preview.png")));
    }
    g->setRowColors(false);
    EXPECT_EQ(countTint(render()), 0);
}

TEST_P(GridPrintTest, LongTextsWrapInsideTheirCellAndCheckBoxesPrintTicks)
{
    // The catalogue: descriptions of up to 120 characters in a column a quarter
    // of the page wide, and the percentage flag as a check box.
    const GridLayout l = catalogueWithCheckBoxes();
    QString description;
    for (int i = 0; description.size() < 120; ++i)
        description += QStringLiteral("本指标反映互助金借款回收情况第%1段说明，").arg(i);
    description.truncate(120);
    for (int i = 1; i <= 30; ++i)
        db->exec(QStringLiteral(
                     "INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) VALUES (?, ?, ?, ?, 1, ?)"),
                 {QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("借款质量"),
                  QStringLiteral("逾期借款率%1").arg(i), i == 3 ? description : QStringLiteral("简述"),
                  i % 2});
    GridBuffer g(l);
    g.SetTransObject(&sqlca());
    ASSERT_EQ(g.Retrieve(), 30);
    const QString path = writeAndKeep(g, QStringLiteral("catalogue.pdf"));
    const QString text = pdfText(path);
    QString flat = text;
    flat.remove(QRegularExpression(QStringLiteral("\\s")));
    EXPECT_TRUE(flat.contains(description)) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("√")), 15);
}

TEST_P(GridPrintTest, PdfNamesTheProgramRegionAndPeriodAndPdfAKeepsItInXmp)
{
    fill(3);
    auto g = retrieved(2);
    g->setText(QStringLiteral("t_qymc"), QStringLiteral("项目区：青禾省"));
    // pdfinfo's standard error shows whether the appended information still reads cleanly.
    auto pdfinfo = [](const QStringList& args) {
        const ToolRun r = runTool(QStringLiteral("pdfinfo"), args);
        return std::pair{QString::fromUtf8(r.out), QString::fromUtf8(r.err)};
    };
    // Written in Beijing time, so the dates carry a zone offset.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    const auto restoreZone = qScopeGuard([&] {
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        tzset();
    });
    const QString plain = QDir(db->dir()).filePath(QStringLiteral("plain.pdf"));
    const QString archival = QDir(db->dir()).filePath(QStringLiteral("archival.pdf"));
    QString error;
    ASSERT_TRUE(writePdf(*g, plain, &error)) << error.toStdString();
    PdfOptions pdfA;
    pdfA.archival = true;
    ASSERT_TRUE(writePdf(*g, archival, &error, pdfA)) << error.toStdString();

    const QString title = QStringLiteral("项目进度及借款质量表 青禾省 2024年3月");
    for (const QString& path : {plain, archival}) {
        const auto [out, err] = pdfinfo({QStringLiteral("-isodates"), path});
        EXPECT_TRUE(err.trimmed().isEmpty()) << err.toStdString();
        auto field = [&](const QString& name) {
            const auto m = QRegularExpression(QStringLiteral("^%1:\\s+(.*)$").arg(name),
                                              QRegularExpression::MultilineOption)
                               .match(out);
            return m.hasMatch() ? m.captured(1).trimmed() : QString();
        };
        EXPECT_EQ(field(QStringLiteral("Title")), title) << out.toStdString();
        EXPECT_EQ(field(QStringLiteral("Subject")), QStringLiteral("项目进度及借款质量表"));
        EXPECT_TRUE(field(QStringLiteral("Creator")).startsWith(QStringLiteral("allstats ")));
        EXPECT_FALSE(field(QStringLiteral("Author")).isEmpty());
        EXPECT_EQ(field(QStringLiteral("Pages")), QStringLiteral("1"));

        // The XMP packet says the same, with the same creation instant.
        const QString xmp = pdfinfo({QStringLiteral("-meta"), path}).first;
        EXPECT_TRUE(xmp.contains(QStringLiteral("<rdf:li xml:lang=\"x-default\">%1</rdf:li>").arg(title)))
            << xmp.toStdString();
        EXPECT_TRUE(xmp.contains(
            QStringLiteral("<xmp:CreatorTool>%1</xmp:CreatorTool>").arg(field(QStringLiteral("Creator")))));
        const auto created =
            QRegularExpression(QStringLiteral("<xmp:CreateDate>([^<]+)</xmp:CreateDate>")).match(xmp);
        ASSERT_TRUE(created.hasMatch());
        const QDateTime xmpCreated = QDateTime::fromString(created.captured(1), Qt::ISODate);
        EXPECT_TRUE(xmpCreated.isValid()) << created.captured(1).toStdString();
        EXPECT_EQ(xmpCreated.offsetFromUtc(), 8 * 3600);
        EXPECT_EQ(xmpCreated, QDateTime::fromString(field(QStringLiteral("CreationDate")), Qt::ISODate))
            << field(QStringLiteral("CreationDate")).toStdString();
        EXPECT_EQ(xmp.contains(QStringLiteral("<pdfaid:part>1</pdfaid:part>")), path == archival);
        EXPECT_EQ(xmp.contains(QStringLiteral("<pdfaid:conformance>B</pdfaid:conformance>")),
                  path == archival);
    }
    // PDF/A-1b: a PDF 1.4 file whose colours are tied to an sRGB output intent.
    QFile f(archival);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF-1.4"));
    EXPECT_TRUE(bytes.contains("/OutputIntents"));
    EXPECT_TRUE(bytes.contains("/GTS_PDFA1"));
}

ALLSTATS_ON_ALL_BACKENDS(GridPrintTest);

} // namespace
