// `allstats pack`: the regions of a level, the file names, an empty level, a
// stopped pack, and figures equal to the single reports.
#include "analysis/pack.h"
#include "analysis/packbatch.h"
#include "analysis/packindex.h"
#include "foundation/demo.h"
#include "host/sqlhost.h"
#include "report/batch.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// The reports of a finished pack's folder, without its summary (which must be there).
QStringList reportsIn(const QString& folder)
{
    QStringList files = filesIn(folder);
    EXPECT_TRUE(files.removeOne(kPackIndexHtml) && files.removeOne(kPackIndexJson)) << folder.toStdString();
    return files;
}

class PackTest : public BackendTest
{
protected:
    QStringList common(const QString& command) const
    {
        return {
            QStringLiteral("allstats"), command,      QStringLiteral("--db"),     db->url(),
            QStringLiteral("--hooks"),  hooks.path(), QStringLiteral("--period"), QStringLiteral("202409")};
    }
    QStringList pack(const QString& region, const QString& level, const QString& folder,
                     const QString& format = QStringLiteral("json")) const
    {
        return common(QStringLiteral("pack")) +
               QStringList{QStringLiteral("--scheme"), scheme, QStringLiteral("--year"),   year,
                           QStringLiteral("--month"),  month,  QStringLiteral("--region"), region,
                           QStringLiteral("--level"),  level,  QStringLiteral("--format"), format,
                           QStringLiteral("--out"),    folder};
    }
    QByteArray single(const QString& region)
    {
        const QString out = hooks.filePath(QStringLiteral("single.json"));
        EXPECT_EQ(runReport(common(QStringLiteral("report")) +
                            QStringList{QStringLiteral("--scheme"), scheme, QStringLiteral("--year"), year,
                                        QStringLiteral("--month"), month, QStringLiteral("--region"), region,
                                        QStringLiteral("--out"), out}),
                  ExitDone);
        return readFile(out);
    }

    // A small province: a village whose name a file system dislikes, a
    // village beside it, a 13-character unit below the first village and a
    // village of another province.
    void smallProvince()
    {
        db->exec(
            QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('41', ?), ('4101', ?), ('410101', ?), "
                           "('410101001', ?), ('410101001001', ?), ('410101001002 ', ?), "
                           "('4101010010011', ?), ('420101001001', ?)"),
            {QStringLiteral("河南省"), QStringLiteral("郑州市"), QStringLiteral("中原区"),
             QStringLiteral("须水镇"), QStringLiteral("东/西:村*?"), QStringLiteral("金塬村"),
             QStringLiteral("一组"), QStringLiteral("外省村")});
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                                "('0001', ?, ?, 1, 0), ('0002', ?, ?, 2, 1)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额"), QStringLiteral("比率"),
                  QStringLiteral("还款率")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0), (1, 1, ?, 20, '0002', ?, ?, 1, 1)"),
            {scheme, QStringLiteral("资金"), QStringLiteral("互助金总额"), scheme, QStringLiteral("比率"),
             QStringLiteral("还款率")});
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('410101001001', '202409', '0001', 100, 5, 105), "
                                "('410101001001', '202409', '0002', 0.5, 0, 0.5), "
                                "('410101001002', '202409', '0001', 200, 0, 200), "
                                "('4101010010011', '202409', '0001', 7, 0, 7), "
                                "('420101001001', '202409', '0001', 9, 0, 9)"));
    }

    QTemporaryDir hooks;
    QString scheme = QStringLiteral("月报");
    QString year = QStringLiteral("2024");
    QString month = QStringLiteral("9");
};

TEST_P(PackTest, OneReportPerRegionOfTheLevelUnderTheRegionWithSafeNames)
{
    smallProvince();
    QTemporaryDir out;
    ASSERT_EQ(runPack(pack(QStringLiteral("41"), QStringLiteral("village"), out.path())), ExitDone);
    // The 13-character unit and the other province's village stay out.
    const QStringList villages = {QStringLiteral("410101001001-东_西_村__-202409.json"),
                                  QStringLiteral("410101001002-金塬村-202409.json")};
    EXPECT_EQ(reportsIn(out.path()), villages);
    // Each file is the single report of its village, byte for byte.
    EXPECT_EQ(readFile(out.filePath(villages[0])), single(QStringLiteral("410101001001")));
    EXPECT_EQ(readFile(out.filePath(villages[1])), single(QStringLiteral("410101001002")));
    // The units below a village count in the village's single report and in its pack report alike.
    EXPECT_TRUE(readFile(out.filePath(villages[0])).contains("\"112.00\""))
        << readFile(out.filePath(villages[0])).toStdString();

    QTemporaryDir towns;
    ASSERT_EQ(runPack(pack(QStringLiteral("4101"), QStringLiteral("town"), towns.path())), ExitDone);
    EXPECT_EQ(reportsIn(towns.path()), QStringList{QStringLiteral("410101001-须水镇-202409.json")});
    EXPECT_EQ(readFile(towns.filePath(QStringLiteral("410101001-须水镇-202409.json"))),
              single(QStringLiteral("410101001")));

    // A level without regions under the region: a clear message, exit 1, no files.
    QTemporaryDir empty;
    EXPECT_EQ(runPack(pack(QStringLiteral("410101001001"), QStringLiteral("town"), empty.path())),
              ExitRefused);
    EXPECT_EQ(runPack(pack(QStringLiteral("42"), QStringLiteral("county"), empty.path())), ExitRefused);
    EXPECT_TRUE(filesIn(empty.path()).isEmpty());
    // Wrong usage and an unknown region.
    EXPECT_EQ(runPack(pack(QStringLiteral("41"), QStringLiteral("hamlet"), empty.path())), ExitUsage);
    EXPECT_EQ(
        runPack(pack(QStringLiteral("41"), QStringLiteral("village"), empty.filePath(QStringLiteral("no")))),
        ExitUsage);
    EXPECT_EQ(runPack(pack(QStringLiteral("43"), QStringLiteral("village"), empty.path())), ExitRefused);
}

TEST_P(PackTest, StoppedPackLeavesOnlyWholeFilesAndNoCombinedFile)
{
    smallProvince();
    for (const QString& format : {QStringLiteral("pdf"), QStringLiteral("xlsx")}) {
        QTemporaryDir out;
        SqlHost host(sqlca(), hooks.path());
        host.gs_kjqj = QStringLiteral("202409");
        PackRequest request;
        request.scheme = scheme;
        request.year = year;
        request.month = month;
        request.region = QStringLiteral("41");
        request.regionName = QStringLiteral("河南省");
        request.codeLength = 12;
        request.format = format;
        request.folder = out.path();
        {
            Pack p(host, request);
            ASSERT_EQ(p.prepare().kind, Pack::Written);
            ASSERT_EQ(p.regions().size(), 2);
            ASSERT_EQ(p.next().kind, Pack::Written);
            p.stop();
            EXPECT_EQ(p.done(), 1);
        }
        const QString first = QStringLiteral("410101001001-东_西_村__-202409.") + format;
        EXPECT_EQ(filesIn(out.path()), QStringList{first}) << format.toStdString();
        const QByteArray bytes = readFile(out.filePath(first));
        if (format == u"pdf")
            EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF"));
        else
            EXPECT_TRUE(bytes.startsWith("PK"));

        // Run to the end, the combined file comes last.
        Pack whole(host, request);
        ASSERT_EQ(whole.prepare().kind, Pack::Written);
        while (!whole.atEnd())
            ASSERT_EQ(whole.next().kind, Pack::Written);
        ASSERT_EQ(whole.finish().kind, Pack::Written);
        const QString combined = QStringLiteral("41-河南省-202409-全部.") + format;
        EXPECT_EQ(whole.files().size(), 3);
        EXPECT_EQ(QFileInfo(whole.files().last()).fileName(), combined);
        EXPECT_EQ(filesIn(out.path()).size(), 3) << filesIn(out.path()).join(u' ').toStdString();
        if (format == u"xlsx") {
            // The first sheet sets the regions' 累计数 side by side, one column each.
            QProcess unzip;
            unzip.start(QStringLiteral("unzip"),
                        {QStringLiteral("-p"), out.filePath(combined), QStringLiteral("xl/workbook.xml"),
                         QStringLiteral("xl/worksheets/sheet1.xml"), QStringLiteral("xl/sharedStrings.xml")});
            ASSERT_TRUE(unzip.waitForFinished(30000));
            const QString xml = QString::fromUtf8(unzip.readAllStandardOutput());
            EXPECT_TRUE(xml.contains(QStringLiteral("<sheet name=\"累计数\" sheetId=\"1\"")));
            EXPECT_TRUE(xml.contains(QStringLiteral("<sheet name=\"410101001002 金塬村\" sheetId=\"3\"")));
            EXPECT_TRUE(xml.contains(QStringLiteral("<v>112</v>")) &&
                        xml.contains(QStringLiteral("<v>200</v>")));
        } else {
            QProcess info;
            info.start(QStringLiteral("pdfinfo"), {out.filePath(combined)});
            if (info.waitForFinished(30000) && info.exitCode() == 0) {
                EXPECT_TRUE(info.readAllStandardOutput().simplified().contains("Pages: 2"));
            }
        }
    }
}

TEST_P(PackTest, DemoVillagesOfATownEqualTheirSingleReports)
{
    QString error;
    ASSERT_TRUE(demo::populate(sqlca(), QStringLiteral("202409"), &error)) << error.toStdString();
    scheme = QStringLiteral("预设方案");
    const auto town = sqlca().selectValue(
        QStringLiteral("SELECT min(trim(qybm)) FROM s_qybm WHERE length(trim(qybm)) = 9"));
    ASSERT_FALSE(town.isNull());
    QTemporaryDir out;
    ASSERT_EQ(runPack(pack(town.toString(), QStringLiteral("village"), out.path())), ExitDone);
    const QStringList files = reportsIn(out.path());
    ASSERT_GE(files.size(), 2);
    for (const QString& file : files) {
        const QString code = file.section(u'-', 0, 0);
        EXPECT_EQ(readFile(out.filePath(file)), single(code)) << file.toStdString();
    }
}

} // namespace

ALLSTATS_ON_ALL_BACKENDS(PackTest);
