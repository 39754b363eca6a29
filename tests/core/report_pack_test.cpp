// SPDX-License-Identifier: GPL-3.0-or-later
// `allstats pack`: the regions of a level, the file names, an empty level, a
// stopped pack, and figures equal to the single reports.
#include "analysis/pack.h"
#include "analysis/packbatch.h"
#include "analysis/packindex.h"
#include "foundation/demo.h"
#include "host/sqlhost.h"
#include "report/batch.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <pwd.h>
#include <unistd.h>

namespace {

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
    CommandLine common(const QString& command) const
    {
        return batchCommand(command, db->url(), hooks.path(), seed::kPeriod)
            .add(QStringLiteral("--scheme"), scheme)
            .add(QStringLiteral("--year"), seed::kYear)
            .add(QStringLiteral("--month"), seed::kMonth);
    }
    CommandLine pack(const QString& region, const QString& level, const QString& folder,
                     const QString& format = QStringLiteral("json")) const
    {
        return common(QStringLiteral("pack"))
            .add(QStringLiteral("--region"), region)
            .add(QStringLiteral("--level"), level)
            .add(QStringLiteral("--format"), format)
            .add(QStringLiteral("--out"), folder);
    }
    QByteArray single(const QString& region)
    {
        const QString out = hooks.filePath(QStringLiteral("single.json"));
        EXPECT_EQ(runReport(common(QStringLiteral("report"))
                                .add(QStringLiteral("--region"), region)
                                .add(QStringLiteral("--out"), out)),
                  ExitDone);
        return readFile(out);
    }

    QTemporaryDir hooks;
    QString scheme = seed::kScheme;
};

TEST_P(PackTest, OneReportPerRegionOfTheLevelUnderTheRegionWithSafeNames)
{
    // The seed's province: a village whose name a file system dislikes, a
    // village beside it, a 13-character unit below the first village and a
    // village of another province.
    seed::monthlyReport(*db);
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
    seed::monthlyReport(*db);
    for (const QString& format : {QStringLiteral("pdf"), QStringLiteral("xlsx")}) {
        QTemporaryDir out;
        SqlHost host(sqlca(), hooks.path());
        host.gs_kjqj = seed::kPeriod;
        PackRequest request;
        request.scheme = scheme;
        request.year = seed::kYear;
        request.month = seed::kMonth;
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
            const QString xml = QString::fromUtf8(
                zipParts(out.filePath(combined),
                         {QStringLiteral("xl/workbook.xml"), QStringLiteral("xl/worksheets/sheet1.xml"),
                          QStringLiteral("xl/sharedStrings.xml")}));
            EXPECT_TRUE(xml.contains(QStringLiteral("<sheet name=\"累计数\" sheetId=\"1\"")));
            EXPECT_TRUE(xml.contains(QStringLiteral("<sheet name=\"410101001002 金塬村\" sheetId=\"3\"")));
            EXPECT_TRUE(xml.contains(QStringLiteral("<v>112</v>")) &&
                        xml.contains(QStringLiteral("<v>200</v>")));
        } else {
            // Every report starts on a page of its own.
            EXPECT_EQ(pdfPages(out.filePath(combined)), 2);
        }
    }
}

TEST_P(PackTest, DemoVillagesOfATownEqualTheirSingleReports)
{
    QString error;
    ASSERT_TRUE(demo::populate(sqlca(), seed::kPeriod, &error)) << error.toStdString();
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

// The pack's combined files say what they hold as the single files do: the
// report, the pack's region and the period in the title, the subject, the
// signed-in user as author (on SQLite the system's login name, whatever the
// home folder is called) and the program; the binder's pages name the region
// of their report beside its page number, and their place in the binder.
TEST_P(PackTest, CombinedFilesSayWhatTheyHoldAndWhoMadeThem)
{
    seed::monthlyReport(*db);
    // A session without a login name in its environment and a home folder of another name.
    QTemporaryDir home;
    const QString folderName = QStringLiteral("家目录");
    ASSERT_TRUE(QDir(home.path()).mkdir(folderName));
    QList<QPair<const char*, QByteArray>> saved;
    for (const char* name : {"USER", "LOGNAME", "USERNAME", "HOME"})
        saved.append({name, qgetenv(name)});
    const auto restore = qScopeGuard([&] {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    });
    for (const char* name : {"USER", "LOGNAME", "USERNAME"})
        qunsetenv(name);
    qputenv("HOME", QFile::encodeName(QDir(home.path()).filePath(folderName)));
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const QString author =
        GetParam() == Backend::PostgreSQL ? sqlca().signedInRole() : QString::fromLocal8Bit(user->pw_name);
    ASSERT_NE(author, folderName);

    QTemporaryDir out;
    ASSERT_EQ(runPack(pack(QStringLiteral("41"), QStringLiteral("village"), out.path(),
                           QStringLiteral("xlsx,pdf"))),
              ExitDone);
    const QString title = QStringLiteral("项目进度及借款质量表 河南省 2024年9月 全部村级报表");
    const QString binder = out.filePath(QStringLiteral("41-河南省-202409-全部.pdf"));
    const QString book = out.filePath(QStringLiteral("41-河南省-202409-全部.xlsx"));
    const QString single = out.filePath(QStringLiteral("410101001002-金塬村-202409.pdf"));

    const auto info = [](const QString& pdf) {
        const ToolRun r = runTool(QStringLiteral("pdfinfo"), {pdf});
        EXPECT_TRUE(QString::fromUtf8(r.err).trimmed().isEmpty()) << r.err.toStdString();
        QHash<QString, QString> fields;
        for (const QString& line : QString::fromUtf8(r.out).split(u'\n'))
            fields.insert(line.section(u':', 0, 0).trimmed(), line.section(u':', 1).trimmed());
        return fields;
    };
    const auto combined = info(binder);
    EXPECT_EQ(combined.value(QStringLiteral("Title")), title);
    EXPECT_EQ(combined.value(QStringLiteral("Subject")), QStringLiteral("项目进度及借款质量表"));
    EXPECT_EQ(combined.value(QStringLiteral("Author")), author);
    EXPECT_TRUE(combined.value(QStringLiteral("Creator")).startsWith(QStringLiteral("allstats ")));
    EXPECT_EQ(info(single).value(QStringLiteral("Author")), author);

    const QString core = QString::fromUtf8(zipPart(book, QStringLiteral("docProps/core.xml")));
    EXPECT_TRUE(core.contains(QStringLiteral("<dc:title>%1</dc:title>").arg(title))) << core.toStdString();
    EXPECT_TRUE(core.contains(QStringLiteral("<dc:subject>项目进度及借款质量表</dc:subject>")));
    EXPECT_TRUE(core.contains(QStringLiteral("<dc:creator>%1</dc:creator>").arg(author)))
        << core.toStdString();

    // The second report's page: its region, its own page number and its place in the binder.
    QString second = pdfText(binder).section(QChar(u'\f'), 1, 1);
    second.remove(QRegularExpression(QStringLiteral("\\s")));
    EXPECT_TRUE(second.contains(QStringLiteral("410101001002金塬村第1页/共1页（合订本第2页）")))
        << second.toStdString();
}

} // namespace

ALLSTATS_ON_ALL_BACKENDS(PackTest);
