// SPDX-License-Identifier: GPL-3.0-or-later
// `allstats report`: options, exit codes and the written formats. Most cases
// call the command's function; a few run the real executable to see its
// standard output and error.
#include "report/batch.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

class ReportBatchTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }
    // The seed's report of 郑州市 for September 2024.
    CommandLine good() const { return seed::report(*db, hooks.path()); }

    QTemporaryDir hooks;
};

TEST_P(ReportBatchTest, ExitCodes)
{
    const QString out = hooks.filePath(QStringLiteral("r.json"));
    auto run = [&](CommandLine line) { return runReport(line.add(QStringLiteral("--out"), out)); };
    EXPECT_EQ(run(good()), ExitDone);

    // Wrong usage.
    EXPECT_EQ(run(CommandLine(QStringLiteral("report"))
                      .add(QStringLiteral("--year"), QStringLiteral("2024"))
                      .add(QStringLiteral("--month"), QStringLiteral("9"))),
              ExitUsage); // no --db
    EXPECT_EQ(run(good().drop(QStringLiteral("--year"))), ExitUsage);
    EXPECT_EQ(run(good().drop(QStringLiteral("--month"))), ExitUsage);
    for (const char* month : {"0", "13", "x", ""})
        EXPECT_EQ(run(good().set(QStringLiteral("--month"), QString::fromLatin1(month))), ExitUsage) << month;
    for (const char* year : {"24", "20245", "abcd"})
        EXPECT_EQ(run(good().set(QStringLiteral("--year"), QString::fromLatin1(year))), ExitUsage) << year;
    EXPECT_EQ(run(good().set(QStringLiteral("--period"), QStringLiteral("202413"))), ExitUsage);
    EXPECT_EQ(run(good().add(QStringLiteral("--format"), QStringLiteral("docx"))), ExitUsage);
    EXPECT_EQ(run(good().add(QStringLiteral("--frobnicate"))), ExitUsage);
    EXPECT_EQ(run(good().add(QStringLiteral("extra"))), ExitUsage);
    // Given twice, the command would have to guess which region was meant.
    EXPECT_EQ(run(good().add(QStringLiteral("--region"), seed::kRegion)), ExitUsage);
    EXPECT_EQ(run(good().set(QStringLiteral("--hooks"), hooks.filePath(QStringLiteral("no-such-folder")))),
              ExitUsage);

    // Refused by a check (the rights string: rights_gate_test).
    EXPECT_EQ(run(good().drop(QStringLiteral("--region"))), ExitRefused);
    EXPECT_EQ(run(good().set(QStringLiteral("--region"), QStringLiteral("  "))), ExitRefused);
    EXPECT_EQ(run(good().drop(QStringLiteral("--scheme"))), ExitRefused);
    EXPECT_EQ(run(good().set(QStringLiteral("--region"), QStringLiteral("9999"))), ExitRefused);
    EXPECT_EQ(run(good().set(QStringLiteral("--region"), QStringLiteral("410"))),
              ExitRefused); // a prefix is no code

    // Database and hook errors.
    writeFile(hooks.filePath(QStringLiteral("uf_update_report.sql")), "UPDATE t_stat SET nothing = 1;");
    EXPECT_EQ(run(good()), ExitDatabase);
    QFile::remove(hooks.filePath(QStringLiteral("uf_update_report.sql")));
    EXPECT_EQ(
        run(good().set(QStringLiteral("--db"), hooks.filePath(QStringLiteral("no/such/folder/x.sqlite")))),
        ExitDatabase);
    EXPECT_EQ(run(good().set(QStringLiteral("--db"), hooks.filePath(QStringLiteral("empty.sqlite")))),
              ExitDatabase); // no tables
    EXPECT_EQ(
        runReport(good().add(QStringLiteral("--out"), hooks.filePath(QStringLiteral("no/folder/r.json")))),
        ExitOutput);
}

TEST_P(ReportBatchTest, CsvIsUtf8WithAByteOrderMarkAndQuotedCells)
{
    const QString out = hooks.filePath(QStringLiteral("r.csv"));
    ASSERT_EQ(runReport(good().add(QStringLiteral("--out"), out)), ExitDone); // format from the file name
    const QByteArray bytes = readFile(out);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes.mid(3));
    EXPECT_EQ(text, QStringLiteral("序号,类型,项目,期初数,发生数,累计数\r\n"
                                   "1,资金,互助金总额,307.00,5.00,312.00\r\n"
                                   "2,,\"最大借款, \"\"单笔\"\"\",9000.00,,9000.00\r\n"
                                   "3,比率,还款率,88%,,50%\r\n"
                                   "4,质量,逾期率,,,\r\n"));
}

TEST_P(ReportBatchTest, SpreadsheetByTheFormatWhateverTheFileIsCalled)
{
    // Whether a failed run leaves an earlier file as it was: safe_output_test.
    const QString out = hooks.filePath(QStringLiteral("report.bin"));
    ASSERT_EQ(
        runReport(
            good().add(QStringLiteral("--format"), QStringLiteral("xlsx")).add(QStringLiteral("--out"), out)),
        ExitDone);
    // A workbook whose sheet holds the report.
    EXPECT_TRUE(zipPart(out, QStringLiteral("xl/workbook.xml")).contains("<sheet "));
    EXPECT_TRUE(QString::fromUtf8(zipPart(out, QStringLiteral("xl/sharedStrings.xml")))
                    .contains(QStringLiteral("互助金总额")));
}

TEST_P(ReportBatchTest, PdfTakesTheOrientation)
{
    const QString portrait = hooks.filePath(QStringLiteral("p.pdf"));
    const QString landscape = hooks.filePath(QStringLiteral("l.pdf"));
    ASSERT_EQ(runReport(good().add(QStringLiteral("--out"), portrait)), ExitDone);
    ASSERT_EQ(runReport(good()
                            .add(QStringLiteral("--format"), QStringLiteral("pdf"))
                            .add(QStringLiteral("--landscape"))
                            .add(QStringLiteral("--out"), landscape)),
              ExitDone);
    const QByteArray p = readFile(portrait);
    const QByteArray l = readFile(landscape);
    ASSERT_TRUE(p.startsWith("%PDF"));
    ASSERT_TRUE(l.startsWith("%PDF"));
    EXPECT_TRUE(p.contains("/MediaBox [0 0 595")) << "A4 upright";
    EXPECT_TRUE(l.contains("/MediaBox [0 0 842")) << "A4 across";
}

TEST_P(ReportBatchTest, PdfAWritesAnArchivalFileNamingRegionAndPeriod)
{
    const QString out = hooks.filePath(QStringLiteral("a.pdf"));
    ASSERT_EQ(runReport(good().add(QStringLiteral("--pdf-a")).add(QStringLiteral("--out"), out)), ExitDone);
    const QByteArray a = readFile(out);
    EXPECT_TRUE(a.startsWith("%PDF-1.4"));
    EXPECT_TRUE(a.contains("<pdfaid:part>1</pdfaid:part>"));
    EXPECT_TRUE(a.contains("/GTS_PDFA1"));
    EXPECT_TRUE(a.contains(QStringLiteral("项目进度及借款质量表 郑州市 2024年9月").toHtmlEscaped().toUtf8()));
    // Only a PDF can be PDF/A.
    EXPECT_EQ(runReport(good()
                            .add(QStringLiteral("--pdf-a"))
                            .add(QStringLiteral("--out"), hooks.filePath(QStringLiteral("a.xlsx")))),
              ExitUsage);
    EXPECT_FALSE(QFile::exists(hooks.filePath(QStringLiteral("a.xlsx"))));
}

ALLSTATS_ON_ALL_BACKENDS(ReportBatchTest);

// The real executable: messages on standard error, the report on standard output.
class ReportCommandTest : public ReportBatchTest
{
};

TEST_P(ReportCommandTest, WritesToStandardOutputAndSaysWhyItRefuses)
{
    if (!QFile::exists(allstatsExecutable()))
        GTEST_SKIP() << "the allstats executable is not built";
    // The province, its figures and a row without any.
    auto run = [&](const CommandLine& line) { return runAllstats(line.arguments()); };
    const CommandLine province = good().set(QStringLiteral("--region"), QStringLiteral("41"));
    Outcome r = run(CommandLine(province).add(QStringLiteral("--out"), QStringLiteral("-")));
    ASSERT_EQ(r.code, ExitDone) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"unit\": \"项目区：河南省\"")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("[\"1\", \"资金\", \"互助金总额\", \"307.00\", \"5.00\", \"312.00\"]"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("[\"4\", \"质量\", \"逾期率\", \"\", \"\", \"\"]")) << r.out.toStdString();

    r = run(CommandLine(province)
                .drop(QStringLiteral("--region"))
                .add(QStringLiteral("--format"), QStringLiteral("csv")));
    ASSERT_EQ(r.code, ExitRefused);
    EXPECT_EQ(r.said(), QStringLiteral("请选择查询区域"));
    EXPECT_TRUE(r.out.isEmpty());
    r = run(CommandLine(province).drop(QStringLiteral("--scheme")));
    ASSERT_EQ(r.code, ExitRefused);
    EXPECT_EQ(r.said(), QStringLiteral("请选择指标方案"));
    r = run(CommandLine(province).set(QStringLiteral("--region"), QStringLiteral("4100")));
    ASSERT_EQ(r.code, ExitRefused);
    EXPECT_TRUE(r.said().contains(QStringLiteral("4100"))) << r.err.toStdString();

    // Binary formats on standard output too.
    r = run(CommandLine(province).add(QStringLiteral("--format"), QStringLiteral("xlsx")));
    ASSERT_EQ(r.code, ExitDone) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("PK"));
}

ALLSTATS_ON_ALL_BACKENDS(ReportCommandTest);

} // namespace
