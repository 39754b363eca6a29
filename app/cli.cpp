#include "app/cli.h"

#include "foundation/demo.h"
#include "foundation/host.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "host/batchrun.h"
#include "host/options.h"
#include "report/batch.h"
#include "report/trendbatch.h"

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
};

// The batch commands; a new one is one line here.
// clang-format off
constexpr Command kCommands[] = {
    {u"init-db", runInitDb},
    {u"report", runReport},
    {u"pack", runPack},
    {u"trend", runTrend},
    {u"rank", runRank},
};
// clang-format on

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
    if (!parser.isSet(QStringLiteral("db"))) {
        err() << "init-db: --db DB is required" << Qt::endl;
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
    // The one command that creates: a new SQLite file, a missing schema.
    auto sqlca = Sqlca::connect(o.db, &error, OpenMode::Create);
    if (!sqlca) {
        err() << "init-db: " << error << Qt::endl;
        return ExitDatabase;
    }
    const batch::Watchdog watchdog(*sqlca, limits, QStringLiteral("init-db"));
    if (!schema::create(*sqlca, &error)) {
        err() << "init-db: " << error << Qt::endl;
        return ExitDatabase;
    }
    if (parser.isSet(QStringLiteral("demo"))) {
        if (!demo::populate(*sqlca, o.period, &error)) {
            err() << "init-db --demo: " << error << Qt::endl;
            return ExitDatabase;
        }
    }
    QTextStream(stdout) << "database ready: " << sqlca->description() << Qt::endl;
    return ExitDone;
}
