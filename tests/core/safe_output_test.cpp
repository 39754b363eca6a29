// SPDX-License-Identifier: GPL-3.0-or-later
// Files appear whole or not at all: a full disk or a file-size limit leaves
// the earlier file as it was and says which file and why; a link to a journal
// file of the database that does not exist yet is refused; two packs into one
// folder both finish. The commands run as the built executable, as a user
// runs them, on both backends.
#include "analysis/pack.h"
#include "analysis/packbatch.h"
#include "analysis/trendbatch.h"
#include "foundation/gridbuffer.h"
#include "foundation/gridlayout.h"
#include "foundation/gridprint.h"
#include "host/sqlhost.h"
#include "host/xlsxexport.h"
#include "report/batch.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kFiller = QStringLiteral("filler");

// Every entry of a folder (hidden ones too) with its bytes; the filler of a full disk aside.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> all;
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name != kFiller)
            all.insert(name, readFile(dir.filePath(name)));
    }
    return all;
}

// A small file system of its own, mounted on a temporary folder when the test
// may mount one (root) and unmounted at the end.
class SmallDisk final
{
public:
    SmallDisk()
    {
        if (!m_dir.isValid())
            return;
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=1m") == 0)
            m_mounted = true;
        else
            m_why = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    QString why() const { return m_why; }
    QString path() const { return m_dir.path(); }
    QString filler() const { return m_dir.filePath(kFiller); }

    // Fills the disk until only `leave` bytes are free (in whole pages).
    void fill(qint64 leave)
    {
        const int fd = ::open(QFile::encodeName(filler()).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const QByteArray page(4096, 'x');
        qint64 size = 0;
        for (ssize_t n; (n = ::write(fd, page.constData(), size_t(page.size()))) > 0;)
            size += n;
        ASSERT_EQ(::ftruncate(fd, off_t(std::max<qint64>(0, size - leave))), 0);
        ::close(fd);
    }
    void unfill() { QFile::remove(filler()); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_why;
};

// A file-size limit for this process while alive (SIGXFSZ ignored, so a write
// past the limit fails with EFBIG instead of ending the process).
class FileSizeLimit final
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old = {};
    void (*m_oldHandler)(int) = nullptr;
};

class SafeOutputTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }

    CommandLine common(const QString& command) const
    {
        return batchCommand(command, db->url(), hooks.path(), seed::kPeriod)
            .add(QStringLiteral("--scheme"), seed::kScheme);
    }
    CommandLine report(const QString& out) const
    {
        return common(QStringLiteral("report"))
            .add(QStringLiteral("--year"), seed::kYear)
            .add(QStringLiteral("--month"), seed::kMonth)
            .add(QStringLiteral("--region"), QStringLiteral("41"))
            .add(QStringLiteral("--out"), out);
    }
    CommandLine trend(const QString& out) const
    {
        return common(QStringLiteral("trend"))
            .add(QStringLiteral("--region"), QStringLiteral("41"))
            .add(QStringLiteral("--from"), QStringLiteral("202408"))
            .add(QStringLiteral("--to"), seed::kPeriod)
            .add(QStringLiteral("--out"), out);
    }
    CommandLine pack(const QString& format, const QString& folder) const
    {
        return common(QStringLiteral("pack"))
            .add(QStringLiteral("--year"), seed::kYear)
            .add(QStringLiteral("--month"), seed::kMonth)
            .add(QStringLiteral("--region"), QStringLiteral("41"))
            .add(QStringLiteral("--level"), QStringLiteral("village"))
            .add(QStringLiteral("--format"), format)
            .add(QStringLiteral("--out"), folder);
    }
    // The files a pack of the seed's two villages writes (the combined one last).
    static QStringList packFiles(const QString& format)
    {
        QStringList files{
            packFileName(QStringLiteral("410101001001"), QStringLiteral("东/西:村*?"), seed::kPeriod, format),
            packFileName(QStringLiteral("410101001002"), QStringLiteral("金塬村"), seed::kPeriod, format)};
        if (format == u"pdf" || format == u"xlsx")
            files << packFileName(QStringLiteral("41"), QStringLiteral("河南省"),
                                  seed::kPeriod + QStringLiteral("-全部"), format);
        return files;
    }

    // The real executable, optionally under a file-size limit of `limit` bytes:
    // exit code and standard error.
    static int runExe(const QStringList& args, QByteArray* err, qint64 limit = -1)
    {
        RunOptions options;
        options.fileSizeLimit = limit;
        const Outcome r = runAllstats(args, options);
        *err = r.err;
        return r.code;
    }

    QTemporaryDir hooks;
};

// One command that writes files into a folder, and the files it writes there.
struct OutputCase
{
    QString name;
    std::function<QStringList(const QString& folder)> args; // what the executable is given
    QStringList files;
};

TEST_P(SafeOutputTest, AFullDiskLeavesTheEarlierFilesAndSaysWhichFileAndWhy)
{
    if (!QFile::exists(allstatsExecutable()))
        GTEST_SKIP() << "the allstats executable is not built";
    QList<OutputCase> cases;
    for (const QString& format :
         {QStringLiteral("json"), QStringLiteral("csv"), QStringLiteral("xlsx"), QStringLiteral("pdf")}) {
        const QString file = QStringLiteral("r.") + format;
        cases.append(
            {QStringLiteral("report ") + format,
             [this, file](const QString& folder) { return report(QDir(folder).filePath(file)).arguments(); },
             {file}});
    }
    for (const QString& format : {QStringLiteral("csv"), QStringLiteral("xlsx")}) {
        const QString file = QStringLiteral("t.") + format;
        cases.append(
            {QStringLiteral("trend ") + format,
             [this, file](const QString& folder) { return trend(QDir(folder).filePath(file)).arguments(); },
             {file}});
    }
    for (const QString& format : {QStringLiteral("json"), QStringLiteral("pdf"), QStringLiteral("xlsx")}) {
        cases.append({QStringLiteral("pack ") + format,
                      [this, format](const QString& folder) { return pack(format, folder).arguments(); },
                      packFiles(format)});
    }

    // Runs every case into the folder that holds an earlier file of each name:
    // on the small disk filled up to `leave` bytes, or under a file-size limit
    // of `limit` bytes; `reason` is the system's word for it.
    auto check = [&](const QString& folder, SmallDisk* disk, qint64 leave, qint64 limit,
                     const QString& reason, const QList<OutputCase>& which) {
        for (const OutputCase& c : which) {
            if (disk)
                disk->unfill();
            for (const QString& file : c.files)
                writeFile(QDir(folder).filePath(file), "the earlier " + file.toUtf8() + '\n');
            if (disk)
                disk->fill(leave);
            const QMap<QString, QByteArray> before = contents(folder);
            QByteArray err;
            const int code = runExe(c.args(folder), &err, limit);
            const std::string what = (c.name + QStringLiteral(" (") + reason + u')').toStdString();
            EXPECT_EQ(code, ExitOutput) << what << "\n" << err.toStdString();
            // Each earlier file byte for byte, and no partial file beside it.
            EXPECT_EQ(contents(folder), before) << what;
            const QString text = QString::fromUtf8(err);
            const QString first = QDir(folder).filePath(c.files.first());
            EXPECT_TRUE(text.contains(QStringLiteral("cannot write %1: %2").arg(first, reason)))
                << what << "\n"
                << err.toStdString();
            EXPECT_FALSE(text.contains(QStringLiteral("nknown error"))) << what;
            if (c.files.size() > 1) {
                // The pack says how many of its files it wrote whole: none.
                EXPECT_TRUE(text.contains(QStringLiteral("0 of %1 files written whole").arg(c.files.size())))
                    << what << "\n"
                    << err.toStdString();
            }
            for (const QString& file : c.files)
                QFile::remove(QDir(folder).filePath(file));
        }
    };

    bool ran = false;
    // A full file system: no space left on device.
    SmallDisk disk;
    if (disk.mounted()) {
        ran = true;
        const QString folder = disk.path();
        check(folder, &disk, 0, -1, QStringLiteral("no space left on device"), cases);
        // Room for a part of each file only (report pdf, pack pdf): never a cut file in place of the earlier
        // one.
        check(folder, &disk, 8192, -1, QStringLiteral("no space left on device"), {cases[3], cases[7]});
        disk.unfill();
    }
    // A file-size limit: file too large. SQLite's own journal and temporary
    // files would meet the limit first, so this runs with the server's database.
    if (GetParam() == Backend::PostgreSQL) {
        ran = true;
        QTemporaryDir folder;
        check(folder.path(), nullptr, 0, 0, QStringLiteral("file too large"), cases);
        // Past the first bytes (report json and pdf, pack json).
        check(folder.path(), nullptr, 0, 64, QStringLiteral("file too large"),
              {cases[0], cases[3], cases[6]});
    }
    if (!ran)
        GTEST_SKIP() << "no small file system can be mounted here (" << disk.why().toStdString()
                     << "), and SQLite's own files meet a file-size limit before the report does";
}

TEST_P(SafeOutputTest, ALinkToAJournalFileThatDoesNotExistYetIsRefused)
{
    if (GetParam() != Backend::SQLite)
        GTEST_SKIP() << "a server's database has no file to name";
    // Without WAL no journal file exists between runs: every link below dangles.
    db->exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    const QString file = db->url();
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        ASSERT_FALSE(QFileInfo::exists(file + QLatin1String(suffix))) << suffix;

    QTemporaryDir out;
    const QString folder = QFileInfo(file).absolutePath();
    const QString name = QFileInfo(file).fileName();
    ASSERT_TRUE(QFile::link(file + QStringLiteral("-wal"), out.filePath(QStringLiteral("wal"))));
    ASSERT_TRUE(QFile::link(file + QStringLiteral("-shm"), out.filePath(QStringLiteral("shm"))));
    ASSERT_TRUE(QFile::link(file + QStringLiteral("-journal"), out.filePath(QStringLiteral("journal"))));
    // A chain of links, and a link written relative to its own folder.
    ASSERT_TRUE(QFile::link(QStringLiteral("wal"), out.filePath(QStringLiteral("chain1"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("chain1"), out.filePath(QStringLiteral("chain2"))));
    ASSERT_EQ(
        ::symlink(QFile::encodeName(QDir(out.path()).relativeFilePath(file + QStringLiteral("-journal")))
                      .constData(),
                  QFile::encodeName(out.filePath(QStringLiteral("relative"))).constData()),
        0);
    // A link to the database's folder, and the journal's name under it.
    ASSERT_TRUE(QFile::link(folder, out.filePath(QStringLiteral("dbfolder"))));
    const QMap<QString, QByteArray> links = contents(out.path());

    auto nothingMade = [&](const std::string& what) {
        for (const char* suffix : {"-wal", "-shm", "-journal"})
            EXPECT_FALSE(QFileInfo::exists(file + QLatin1String(suffix))) << what << suffix;
        EXPECT_EQ(contents(out.path()), links) << what;
    };
    for (const QString& target :
         {QStringLiteral("wal"), QStringLiteral("shm"), QStringLiteral("journal"), QStringLiteral("chain2"),
          QStringLiteral("relative"), QStringLiteral("dbfolder/") + name + QStringLiteral("-wal")}) {
        EXPECT_EQ(runReport(report(out.filePath(target))), ExitUsage) << target.toStdString();
        nothingMade(target.toStdString());
    }
    EXPECT_EQ(runTrend(trend(out.filePath(QStringLiteral("chain2")))), ExitUsage);
    nothingMade("trend");

    // A pack's file in its folder that is such a link: refused before any report is made.
    QTemporaryDir packed;
    const QString trap = packed.filePath(packFiles(QStringLiteral("json")).last());
    ASSERT_TRUE(QFile::link(file + QStringLiteral("-journal"), trap));
    EXPECT_EQ(runPack(pack(QStringLiteral("json"), packed.path())), ExitUsage);
    EXPECT_EQ(
        QDir(packed.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{QFileInfo(trap).fileName()});
    nothingMade("pack");
    // Files of other names beside the database are written, also through a link to its folder.
    EXPECT_EQ(runPack(pack(QStringLiteral("json"), out.filePath(QStringLiteral("dbfolder")))), ExitDone);
    EXPECT_TRUE(QFileInfo::exists(QDir(folder).filePath(packFiles(QStringLiteral("json")).first())));
}

TEST_P(SafeOutputTest, TwoPacksIntoOneFolderBothFinishWithWholeFiles)
{
    // Two packs side by side in one process, each ahead of the other's end.
    QTemporaryDir out;
    SqlHost host(sqlca(), hooks.path());
    host.gs_kjqj = seed::kPeriod;
    PackRequest request;
    request.scheme = seed::kScheme;
    request.year = seed::kYear;
    request.month = seed::kMonth;
    request.region = QStringLiteral("41");
    request.regionName = QStringLiteral("河南省");
    request.codeLength = 12;
    request.format = QStringLiteral("pdf");
    request.folder = out.path();
    {
        Pack first(host, request);
        Pack second(host, request);
        ASSERT_EQ(first.prepare().kind, Pack::Written);
        ASSERT_EQ(second.prepare().kind, Pack::Written);
        while (!first.atEnd()) {
            ASSERT_EQ(first.next().kind, Pack::Written);
            ASSERT_EQ(second.next().kind, Pack::Written);
        }
        const Pack::Step a = first.finish();
        EXPECT_EQ(a.kind, Pack::Written) << a.message.toStdString();
        const Pack::Step b = second.finish();
        EXPECT_EQ(b.kind, Pack::Written) << b.message.toStdString();
    }
    // The command also writes the pack's summary beside the reports.
    auto whole = [&](const QString& folder, const QString& format, bool summary = false) {
        EXPECT_EQ(
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            [&] {
                QStringList files = packFiles(format);
                if (summary)
                    files << QStringLiteral("index.html") << QStringLiteral("index.json");
                files.sort();
                return files;
            }())
            << format.toStdString();
        for (const QString& file : packFiles(format)) {
            const QByteArray bytes = readFile(QDir(folder).filePath(file));
            if (format == u"pdf")
                EXPECT_TRUE(bytes.startsWith("%PDF") && bytes.trimmed().endsWith("%%EOF"))
                    << file.toStdString();
            else
                EXPECT_TRUE(bytes.startsWith("PK")) << file.toStdString();
        }
    };
    whole(out.path(), QStringLiteral("pdf"));

    // The real command twice at once into one folder, for both formats with a partial combined file.
    if (!QFile::exists(allstatsExecutable()))
        GTEST_SKIP() << "the allstats executable is not built";
    for (const QString& format : {QStringLiteral("pdf"), QStringLiteral("xlsx")}) {
        QTemporaryDir both;
        QList<std::shared_ptr<QProcess>> runs;
        for (int i = 0; i < 2; ++i) {
            auto p = std::make_shared<QProcess>();
            p->start(allstatsExecutable(), pack(format, both.path()).arguments());
            runs << p;
        }
        for (const auto& p : runs) {
            ASSERT_TRUE(p->waitForFinished(120000));
            EXPECT_EQ(p->exitCode(), ExitDone) << p->readAllStandardError().toStdString();
        }
        whole(both.path(), format, true);
        if (format == u"xlsx") {
            EXPECT_TRUE(runTool(QStringLiteral("unzip"),
                                {QStringLiteral("-tq"), QDir(both.path()).filePath(packFiles(format).last())})
                            .ok);
        }
    }
}

TEST_P(SafeOutputTest, TheDesktopsSpreadsheetAndPrintoutFailCleanlyOnAFullDisk)
{
    // The report as the screen holds it; the screens' save and print call these writers.
    SqlHost host(sqlca(), hooks.path());
    host.gs_kjqj = seed::kPeriod;
    GridBuffer grid(d_xmjdzl());
    grid.SetTransObject(&sqlca());
    attachReportTidying(grid);
    ASSERT_EQ(runStatistics(
                  host, grid,
                  {QStringLiteral("41"), QStringLiteral("河南省"), seed::kYear, seed::kMonth, seed::kScheme})
                  .kind,
              RunOutcome::Done);

    auto check = [&](const QString& folder, const QString& reason) {
        for (const QString& name : {QStringLiteral("报表.xlsx"), QStringLiteral("报表.pdf")}) {
            const QString path = QDir(folder).filePath(name);
            const QMap<QString, QByteArray> before = contents(folder);
            QString error;
            bool ok = false;
            {
                std::unique_ptr<FileSizeLimit> limit;
                if (reason == u"file too large")
                    limit = std::make_unique<FileSizeLimit>(64);
                if (name.endsWith(QStringLiteral(".xlsx"))) {
                    const Status s = writeXlsx(grid, path);
                    ok = s.ok;
                    error = s.error;
                } else {
                    ok = writePdf(grid, path, &error);
                }
            }
            EXPECT_FALSE(ok) << name.toStdString();
            EXPECT_EQ(error, QStringLiteral("cannot write %1: %2").arg(path, reason));
            EXPECT_EQ(contents(folder), before) << name.toStdString();
        }
    };
    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("报表.xlsx")), "the earlier workbook");
    writeFile(folder.filePath(QStringLiteral("报表.pdf")), "the earlier printout");
    check(folder.path(), QStringLiteral("file too large"));

    SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << "no small file system can be mounted here (" << disk.why().toStdString()
                     << "): the file-size limit above stood for the full disk";
    writeFile(QDir(disk.path()).filePath(QStringLiteral("报表.xlsx")), "the earlier workbook");
    writeFile(QDir(disk.path()).filePath(QStringLiteral("报表.pdf")), "the earlier printout");
    disk.fill(4096);
    check(disk.path(), QStringLiteral("no space left on device"));
    disk.unfill();
}

} // namespace

ALLSTATS_ON_ALL_BACKENDS(SafeOutputTest);
