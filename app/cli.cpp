#include "app/cli.h"

#include "foundation/demo.h"
#include "foundation/host.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "host/options.h"
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

bool isBatchCommand(const QString& word)
{
    return word == u"init-db" || word == u"report" || word == u"pack";
}

int runBatch(const QStringList& args)
{
    const QString command = args.value(1);
    if (command == u"init-db")
        return runInitDb(args);
    if (command == u"report")
        return runReport(args);
    if (command == u"pack")
        return runPack(args);
    err() << "unknown command: " << command << Qt::endl;
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
        err() << "init-db: --period must be YYYYMM with a month from 01 to 12: " << o.period << Qt::endl;
        return ExitUsage;
    }
    QString error;
    auto sqlca = Sqlca::connect(o.db, &error);
    if (!sqlca) {
        err() << error << Qt::endl;
        return ExitDatabase;
    }
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
