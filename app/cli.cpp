// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

#include "analysis/packbatch.h"
#include "analysis/trendbatch.h"
#include "foundation/dbname.h"
#include "foundation/demo.h"
#include "foundation/host.h"
#include "foundation/rollup.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "foundation/users.h"
#include "foundation/version.h"
#include "host/batchrun.h"
#include "host/options.h"
#include "host/rollupcommand.h"
#include "host/usercommand.h"
#include "report/batch.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

} // namespace

namespace {

struct Command
{
    const char16_t* name;
    int (*run)(const QStringList& args);
    const char16_t* summary;
};

// The batch commands; a new one is one line here.
// clang-format off
constexpr Command kCommands[] = {
    {u"init-db", runInitDb, u"creates the tables of a database (with --demo the demo province)"},
    {u"report", runReport, u"runs the report 项目进度及借款质量表 of a region and writes it out"},
    {u"pack", runPack, u"writes the report of every region of a level under a region"},
    {u"trend", runTrend, u"follows indicators of a region over months"},
    {u"rank", runRank, u"ranks the sub-regions of a region by an indicator in one month"},
    {u"user", runUser, u"adds, changes, removes and lists the users of a shared PostgreSQL database"},
    {u"rollup", runRollup, u"enables, rebuilds and shows the figures kept per region level"},
};
// clang-format on

bool isHelpWord(const QString& word)
{
    static const QStringList words = {QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("-?"),
                                      QStringLiteral("--help-all")};
    return words.contains(word);
}

bool isVersionWord(const QString& word)
{
    static const QStringList words = {QStringLiteral("-v"), QStringLiteral("--version")};
    return words.contains(word);
}

} // namespace

bool isBatchCommand(const QString& word)
{
    for (const Command& c : kCommands)
        if (word == QStringView(c.name))
            return true;
    return false;
}

bool isCommandWord(const QString& word)
{
    return !word.isEmpty() && !word.startsWith(u'-');
}

bool isInformationRequest(const QStringList& args)
{
    for (const QString& a : args.mid(1)) {
        if (isHelpWord(a) || isVersionWord(a))
            return true;
    }
    return false;
}

int runInformation(const QStringList& args)
{
    QTextStream out(stdout);
    for (const QString& a : args.mid(1)) {
        if (isVersionWord(a)) {
            out << allstatsNameAndVersion() << Qt::endl;
            return ExitDone;
        }
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("村级互助资金管理 — 统计指标: without a command, opens the main window."));
    parser.addHelpOption();
    parser.addVersionOption();
    addDesktopOptions(parser);
    out << "Usage: allstats [options]\n       allstats COMMAND [options]\n"
        << parser.applicationDescription() << "\n";
    out << parser.helpText().section(u'\n', 2); // the options, without Qt's own usage line
    out << "\nCommands (allstats COMMAND --help tells a command's options):\n";
    for (const Command& c : kCommands)
        out << "  " << QString::fromUtf16(c.name).leftJustified(10) << QString::fromUtf16(c.summary) << "\n";
    out.flush();
    return ExitDone;
}

int runBatch(const QStringList& args)
{
    const QString command = args.value(1);
    for (const Command& c : kCommands)
        if (command == QStringView(c.name))
            return c.run(args);
    QStringList names;
    for (const Command& c : kCommands)
        names << QString::fromUtf16(c.name);
    err() << "allstats: unknown command \"" << command << "\" (commands: " << names.join(QStringLiteral(", "))
          << "; without a command allstats opens the main window)" << Qt::endl;
    return ExitUsage;
}

int runInitDb(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates the tables (and with --demo the demo data)."));
    parser.addHelpOption();
    addSessionOptions(parser);
    parser.addOption(
        {QStringLiteral("demo"), QStringLiteral("Fill an empty database with the demo province.")});
    parser.addOption({QStringLiteral("roles"),
                      QStringLiteral("PostgreSQL: the users table, the group roles, their grants and the "
                                     "row-level security of the figures.")});
    parser.addOption({QStringLiteral("partitioned"),
                      QStringLiteral("PostgreSQL: a new H_stat partitioned by period (kjqj).")});
    batch::addLimitOptions(parser); // --wait, --timeout
    QStringList rest = args;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        err() << parser.errorText() << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return ExitDone;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err() << "init-db: unexpected argument: " << parser.positionalArguments().first() << Qt::endl;
        return ExitUsage;
    }
    if (const QString twice = repeatedOption(parser); !twice.isEmpty()) {
        err() << "init-db: " << twice << " is given more than once; give it once" << Qt::endl;
        return ExitUsage;
    }
    if (!parser.isSet(QStringLiteral("db"))) {
        err() << "init-db: --db DB is required" << Qt::endl;
        return ExitUsage;
    }
    if (QString why; !checkDatabaseOption(parser, &why)) {
        err() << "init-db: " << why << Qt::endl;
        return ExitUsage;
    }
    const SessionOptions o = readSessionOptions(parser);
    if (!isValidPeriod(o.period)) {
        err() << "init-db: --period must be " << periodRule() << ": " << o.period << Qt::endl;
        return ExitUsage;
    }
    // The demo's months all have to be periods the program takes.
    if (parser.isSet(QStringLiteral("demo")) && !isValidPeriod(demo::firstPeriod(o.period))) {
        err() << "init-db: --period " << o.period << " lets the demo figures begin in "
              << demo::firstPeriod(o.period) << ", before " << kFirstYear << "; give a later period"
              << Qt::endl;
        return ExitUsage;
    }
    batch::Limits limits;
    QString error;
    if (!batch::readLimits(parser, &limits, &error)) {
        err() << "init-db: " << error << Qt::endl;
        return ExitUsage;
    }
    const bool roles = parser.isSet(QStringLiteral("roles"));
    if (roles && !parseDatabaseName(o.db, &error)->isPostgres()) {
        err() << "init-db: --roles: a SQLite file has no roles; its file permissions decide who may use it"
              << Qt::endl;
        return ExitUsage;
    }
    const bool partitioned = parser.isSet(QStringLiteral("partitioned"));
    if (partitioned && !parseDatabaseName(o.db, &error)->isPostgres()) {
        err() << "init-db: --partitioned: a SQLite file has no partitions; H_stat stays one table there"
              << Qt::endl;
        return ExitUsage;
    }
    // The one command that creates: a new SQLite file, a missing schema.
    auto sqlca = Sqlca::connect(o.db, &error, OpenMode::Create);
    if (!sqlca) {
        err() << "init-db: " << error << Qt::endl;
        return ExitDatabase;
    }
    const batch::Watchdog watchdog(*sqlca, limits, QStringLiteral("init-db"));
    const bool newDatabase = schema::missingTables(*sqlca).contains(QStringLiteral("H_stat"));
    if (partitioned && !newDatabase && !schema::isPartitioned(*sqlca, &error).value_or(true)) {
        err() << "init-db: --partitioned: H_stat exists and is one table; it stays as it is" << Qt::endl;
        return ExitDatabase;
    }
    if (!schema::create(*sqlca, &error,
                        partitioned ? schema::Figures::PartitionedByPeriod : schema::Figures::Plain)) {
        err() << "init-db: " << error << Qt::endl;
        return ExitDatabase;
    }
    if (parser.isSet(QStringLiteral("demo"))) {
        if (!demo::populate(*sqlca, o.period, &error)) {
            // Filled before (or by another init-db at the same moment): running it again is harmless.
            if (!demo::isPopulated(*sqlca)) {
                err() << "init-db --demo: " << error << Qt::endl;
                return ExitDatabase;
            }
            QTextStream(stdout) << "init-db --demo: " << error << Qt::endl;
        }
    }
    if (roles) {
        if (!users::createRoles(*sqlca, &error)) {
            err() << "init-db --roles: " << error << Qt::endl;
            return ExitDatabase;
        }
        const auto groups = users::groupNames(*sqlca);
        if (groups)
            QTextStream(stdout) << "roles ready: " << groups->catalogue << " (catalogue and schemes), "
                                << groups->report << " (reports), " << groups->users << " (users)"
                                << Qt::endl;
    }
    // A database made here keeps per-level figures; a host's keeps what it has.
    if (newDatabase) {
        if (const Status s = rollup::enable(*sqlca); !s) {
            err() << "init-db: " << s.error << Qt::endl;
            return ExitDatabase;
        }
        const auto stale = rollup::stalePeriods(*sqlca, &error);
        for (const QString& period : stale.value_or(QStringList{})) {
            if (const auto r = rollup::rebuild(*sqlca, period, QString(), false, rollup::Wait::Yes);
                r.kind != rollup::Rebuilt::Done) {
                err() << "init-db: " << r.error << Qt::endl;
                return ExitDatabase;
            }
        }
    }
    QTextStream(stdout) << "database ready: " << sqlca->description() << Qt::endl;
    return ExitDone;
}
