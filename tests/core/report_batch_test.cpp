// `allstats report`: options, exit codes and the written formats. Most cases
// call the command's function; a few run the real executable to see its
// standard output and error.
#include "report/batch.h"
#include "support/testdb.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
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
        db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('4101', ?)"),
                 {QStringLiteral("郑州市")});
        db->exec(QStringLiteral(
                     "INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES ('0001', ?, ?, 1, 0), "
                     "('0002', ?, ?, 1, 1)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金, \"总额\""), QStringLiteral("比率"),
                  QStringLiteral("还款率")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0), (1, 1, ?, 20, '0002', ?, ?, 1, 1)"),
            {QStringLiteral("月报"), QStringLiteral("资金"), QStringLiteral("互助金, \"总额\""),
             QStringLiteral("月报"), QStringLiteral("比率"), QStringLiteral("还款率")});
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('410101000001', '202409', '0001', 1234.5, 0, 1234.5), "
                                "('410101000001', '202409', '0002', 0.875, 0, 0.5)"));
    }

    QStringList args(const QStringList& more) const
    {
        QStringList a = {QStringLiteral("allstats"), QStringLiteral("report"),
                         QStringLiteral("--db"),     db->url(),
                         QStringLiteral("--hooks"),  hooks.path()};
        return a + more;
    }
    QStringList good(const QStringList& more = {}) const
    {
        return args({QStringLiteral("--scheme"), QStringLiteral("月报"), QStringLiteral("--year"),
                     QStringLiteral("2024"), QStringLiteral("--month"), QStringLiteral("9"),
                     QStringLiteral("--region"), QStringLiteral("4101"), QStringLiteral("--period"),
                     QStringLiteral("202409")}) +
               more;
    }
    QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir hooks;
};

TEST_P(ReportBatchTest, ExitCodes)
{
    const QString out = hooks.filePath(QStringLiteral("r.json"));
    auto run = [&](const QStringList& a) { return runReport(a + QStringList{QStringLiteral("--out"), out}); };
    auto without = [&](const QString& option) {
        QStringList a = good();
        const qsizetype i = a.indexOf(option);
        a.remove(i, 2);
        return a;
    };
    auto with = [&](const QString& option, const QString& value) {
        QStringList a = good();
        a[a.indexOf(option) + 1] = value;
        return a;
    };
    EXPECT_EQ(run(good()), ExitDone);

    // Wrong usage.
    EXPECT_EQ(run({QStringLiteral("allstats"), QStringLiteral("report"), QStringLiteral("--year"),
                   QStringLiteral("2024"), QStringLiteral("--month"), QStringLiteral("9")}),
              ExitUsage); // no --db
    EXPECT_EQ(run(without(QStringLiteral("--year"))), ExitUsage);
    EXPECT_EQ(run(without(QStringLiteral("--month"))), ExitUsage);
    for (const char* month : {"0", "13", "x", ""})
        EXPECT_EQ(run(with(QStringLiteral("--month"), QString::fromLatin1(month))), ExitUsage) << month;
    for (const char* year : {"24", "20245", "abcd"})
        EXPECT_EQ(run(with(QStringLiteral("--year"), QString::fromLatin1(year))), ExitUsage) << year;
    EXPECT_EQ(run(with(QStringLiteral("--period"), QStringLiteral("202413"))), ExitUsage);
    EXPECT_EQ(run(good({QStringLiteral("--format"), QStringLiteral("docx")})), ExitUsage);
    EXPECT_EQ(run(good({QStringLiteral("--frobnicate")})), ExitUsage);
    EXPECT_EQ(run(good({QStringLiteral("extra")})), ExitUsage);
    // Given twice, the command would have to guess which region was meant.
    EXPECT_EQ(run(good({QStringLiteral("--region"), QStringLiteral("4101")})), ExitUsage);
    EXPECT_EQ(run(with(QStringLiteral("--hooks"), hooks.filePath(QStringLiteral("no-such-folder")))),
              ExitUsage);

    // Refused by a check.
    EXPECT_EQ(run(without(QStringLiteral("--region"))), ExitRefused);
    EXPECT_EQ(run(with(QStringLiteral("--region"), QStringLiteral("  "))), ExitRefused);
    EXPECT_EQ(run(without(QStringLiteral("--scheme"))), ExitRefused);
    EXPECT_EQ(run(with(QStringLiteral("--region"), QStringLiteral("9999"))), ExitRefused);
    EXPECT_EQ(run(with(QStringLiteral("--region"), QStringLiteral("410"))),
              ExitRefused); // a prefix is no code
    const QString denied = QString(24, u'1') + u'0';
    EXPECT_EQ(run(good({QStringLiteral("--grant"), denied})), ExitRefused);
    EXPECT_EQ(run(good({QStringLiteral("--grant"), QString(24, u'1')})), ExitDone); // too short: allowed
    EXPECT_EQ(run(good({QStringLiteral("--grant"), QString(23, u'1') + u'0' + u'1'})), ExitDone); // 24th only

    // Database and hook errors.
    QFile hook(hooks.filePath(QStringLiteral("uf_update_report.sql")));
    ASSERT_TRUE(hook.open(QIODevice::WriteOnly));
    hook.write("UPDATE t_stat SET nothing = 1;");
    hook.close();
    EXPECT_EQ(run(good()), ExitDatabase);
    hook.remove();
    EXPECT_EQ(run(with(QStringLiteral("--db"), hooks.filePath(QStringLiteral("no/such/folder/x.sqlite")))),
              ExitDatabase);
    EXPECT_EQ(run(with(QStringLiteral("--db"), hooks.filePath(QStringLiteral("empty.sqlite")))),
              ExitDatabase); // no tables
    EXPECT_EQ(runReport(good({QStringLiteral("--out"), hooks.filePath(QStringLiteral("no/folder/r.json"))})),
              ExitOutput);
}

TEST_P(ReportBatchTest, CsvIsUtf8WithAByteOrderMarkAndQuotedCells)
{
    const QString out = hooks.filePath(QStringLiteral("r.csv"));
    ASSERT_EQ(runReport(good({QStringLiteral("--out"), out})), ExitDone); // format from the file name
    const QByteArray bytes = readFile(out);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes.mid(3));
    EXPECT_EQ(text, QStringLiteral("序号,类型,项目,期初数,发生数,累计数\r\n"
                                   "1,资金,\"互助金, \"\"总额\"\"\",1234.50,,1234.50\r\n"
                                   "2,比率,还款率,88%,,50%\r\n"));
}

TEST_P(ReportBatchTest, SpreadsheetAndExplicitFormat)
{
    const QString out = hooks.filePath(QStringLiteral("report.bin"));
    ASSERT_EQ(
        runReport(good({QStringLiteral("--format"), QStringLiteral("xlsx"), QStringLiteral("--out"), out})),
        ExitDone);
    EXPECT_TRUE(readFile(out).startsWith("PK")); // a zip container
    // A failed run leaves an earlier file alone.
    QStringList refused =
        good({QStringLiteral("--format"), QStringLiteral("xlsx"), QStringLiteral("--out"), out});
    refused[refused.indexOf(QStringLiteral("--scheme")) + 1] = QString();
    ASSERT_EQ(runReport(refused), ExitRefused);
    EXPECT_TRUE(readFile(out).startsWith("PK"));
}

TEST_P(ReportBatchTest, PdfTakesTheOrientation)
{
    const QString portrait = hooks.filePath(QStringLiteral("p.pdf"));
    const QString landscape = hooks.filePath(QStringLiteral("l.pdf"));
    ASSERT_EQ(runReport(good({QStringLiteral("--out"), portrait})), ExitDone);
    ASSERT_EQ(runReport(good({QStringLiteral("--format"), QStringLiteral("pdf"),
                              QStringLiteral("--landscape"), QStringLiteral("--out"), landscape})),
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
    ASSERT_EQ(runReport(good({QStringLiteral("--pdf-a"), QStringLiteral("--out"), out})), ExitDone);
    const QByteArray a = readFile(out);
    EXPECT_TRUE(a.startsWith("%PDF-1.4"));
    EXPECT_TRUE(a.contains("<pdfaid:part>1</pdfaid:part>"));
    EXPECT_TRUE(a.contains("/GTS_PDFA1"));
    EXPECT_TRUE(a.contains(QStringLiteral("项目进度及借款质量表 郑州市 2024年9月").toHtmlEscaped().toUtf8()));
    // Only a PDF can be PDF/A.
    EXPECT_EQ(runReport(good({QStringLiteral("--pdf-a"), QStringLiteral("--out"),
                              hooks.filePath(QStringLiteral("a.xlsx"))})),
              ExitUsage);
    EXPECT_FALSE(QFile::exists(hooks.filePath(QStringLiteral("a.xlsx"))));
}

ALLSTATS_ON_ALL_BACKENDS(ReportBatchTest);

// The real executable: messages on standard error, the report on standard output.
class ReportCommandTest : public BackendTest
{
};

TEST_P(ReportCommandTest, WritesToStandardOutputAndSaysWhyItRefuses)
{
    const QString exe = QCoreApplication::applicationDirPath() + QStringLiteral("/../allstats");
    if (!QFile::exists(exe))
        GTEST_SKIP() << "the allstats executable is not built";
    db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('41', ?)"), {QStringLiteral("河南省")});
    db->exec(
        QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES ('0001', ?, ?, 0, 0)"),
        {QStringLiteral("资金"), QStringLiteral("互助金总额")});
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz) VALUES "
                            "(1, 1, ?, 10, '0001', ?, ?, 1)"),
             {QStringLiteral("月报"), QStringLiteral("资金"), QStringLiteral("互助金总额")});
    QTemporaryDir hooks;
    auto run = [&](const QStringList& more, QByteArray* out, QByteArray* err) {
        QProcess p;
        p.start(exe, QStringList{QStringLiteral("report"), QStringLiteral("--db"), db->url(),
                                 QStringLiteral("--hooks"), hooks.path(), QStringLiteral("--year"),
                                 QStringLiteral("2024"), QStringLiteral("--month"), QStringLiteral("3")} +
                         more);
        p.waitForFinished(60000);
        *out = p.readAllStandardOutput();
        // The last line: the platform plugin may warn about its environment first.
        const QList<QByteArray> lines = p.readAllStandardError().trimmed().split('\n');
        *err = lines.last();
        return p.exitCode();
    };
    QByteArray out, err;
    ASSERT_EQ(run({QStringLiteral("--scheme"), QStringLiteral("月报"), QStringLiteral("--region"),
                   QStringLiteral("41"), QStringLiteral("--out"), QStringLiteral("-")},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.contains("\"unit\": \"项目区：河南省\"")) << out.toStdString();
    EXPECT_TRUE(out.contains("[\"1\", \"资金\", \"互助金总额\", \"\", \"\", \"\"]")) << out.toStdString();

    ASSERT_EQ(run({QStringLiteral("--scheme"), QStringLiteral("月报"), QStringLiteral("--format"),
                   QStringLiteral("csv")},
                  &out, &err),
              1);
    EXPECT_EQ(QString::fromUtf8(err).trimmed(), QStringLiteral("请选择查询区域"));
    EXPECT_TRUE(out.isEmpty());
    ASSERT_EQ(run({QStringLiteral("--region"), QStringLiteral("41")}, &out, &err), 1);
    EXPECT_EQ(QString::fromUtf8(err).trimmed(), QStringLiteral("请选择指标方案"));
    ASSERT_EQ(run({QStringLiteral("--region"), QStringLiteral("41"), QStringLiteral("--scheme"),
                   QStringLiteral("月报"), QStringLiteral("--grant"), QString(24, u'1') + u'0'},
                  &out, &err),
              1);
    EXPECT_EQ(QString::fromUtf8(err).trimmed(), QStringLiteral("你无权限执行该操作,请询问系统管理员"));
    ASSERT_EQ(run({QStringLiteral("--region"), QStringLiteral("4100"), QStringLiteral("--scheme"),
                   QStringLiteral("月报")},
                  &out, &err),
              1);
    EXPECT_TRUE(err.contains("4100")) << err.toStdString();

    // Binary formats on standard output too.
    ASSERT_EQ(run({QStringLiteral("--region"), QStringLiteral("41"), QStringLiteral("--scheme"),
                   QStringLiteral("月报"), QStringLiteral("--format"), QStringLiteral("xlsx")},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.startsWith("PK"));
}

ALLSTATS_ON_ALL_BACKENDS(ReportCommandTest);

} // namespace
