// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/rollupcommand.h"

#include "foundation/rollup.h"
#include "foundation/sqlca.h"
#include "host/exitcode.h"
#include "host/options.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

int usage(const QString& text)
{
    err() << "rollup: " << text << Qt::endl;
    return ExitUsage;
}

int failed(const QString& action, const QString& text)
{
    err() << "rollup " << action << ": " << text << Qt::endl;
    return ExitDatabase;
}

int rebuildStale(Sqlca& sqlca, const QStringList& periods, bool whole)
{
    QTextStream out(stdout);
    for (const QString& period : periods) {
        const auto r = rollup::rebuild(sqlca, period, QString(), whole, rollup::Wait::Yes);
        if (r.kind != rollup::Rebuilt::Done)
            return failed(QStringLiteral("rebuild"), QStringLiteral("period %1: %2").arg(period, r.error));
        out << period << ": " << r.parts << " parts built" << Qt::endl;
    }
    if (periods.isEmpty())
        out << "nothing is stale" << Qt::endl;
    return ExitDone;
}

} // namespace

int runRollup(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The figures kept per region level beside H_stat, which reports of a province, city, county or "
        "town read instead of scanning the units:\n"
        "  rollup enable    adds the tables and the triggers that keep them (the owner of H_stat)\n"
        "  rollup disable   removes them; H_stat stays as it is\n"
        "  rollup status    lists the periods with their state and size\n"
        "  rollup rebuild   builds what is stale now; with --period the whole period anew\n"
        "                   (after a month's load, so no report pays for it)"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("db"), QStringLiteral("Database: a SQLite file or a postgresql:// URL."),
                      QStringLiteral("DB")});
    parser.addOption({QStringLiteral("period"), QStringLiteral("rebuild: the period YYYYMM to build anew."),
                      QStringLiteral("YYYYMM")});
    QStringList rest = args;
    rest.removeAt(1); // the command word
    if (!parser.parse(rest))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return ExitDone;
    }
    if (const QString twice = repeatedOption(parser); !twice.isEmpty())
        return usage(twice + QStringLiteral(" is given more than once; give it once"));
    const QStringList words = parser.positionalArguments();
    const QString action = words.value(0);
    static const QStringList actions = {QStringLiteral("enable"), QStringLiteral("disable"),
                                        QStringLiteral("status"), QStringLiteral("rebuild")};
    if (!actions.contains(action))
        return usage(
            action.isEmpty()
                ? QStringLiteral("enable, disable, status or rebuild is needed")
                : QStringLiteral("unknown action \"%1\" (enable, disable, status, rebuild)").arg(action));
    if (words.size() > 1)
        return usage(QStringLiteral("unexpected argument: %1").arg(words.at(1)));
    if (!parser.isSet(QStringLiteral("db")))
        return usage(QStringLiteral("--db DB is required"));
    QString why;
    if (!checkDatabaseOption(parser, &why))
        return usage(why);
    const QString period = parser.value(QStringLiteral("period"));
    if (parser.isSet(QStringLiteral("period"))) {
        if (action != u"rebuild")
            return usage(QStringLiteral("--period is for rebuild"));
        if (!isValidPeriod(period))
            return usage(QStringLiteral("--period must be %1: %2").arg(periodRule(), period));
    }

    QString error;
    auto sqlca = Sqlca::connect(parser.value(QStringLiteral("db")), &error);
    if (!sqlca)
        return failed(action, error);
    QTextStream out(stdout);
    if (action == u"enable") {
        rollup::Enabled enabled;
        if (const Status s = rollup::enable(*sqlca, &enabled); !s)
            return failed(action, s.error);
        if (enabled.already)
            out << "kept figures were enabled; their triggers and functions are made anew" << Qt::endl;
        else
            out << "kept figures enabled: " << enabled.parts
                << " parts to build (the first report of each builds them, or allstats rollup rebuild now)"
                << Qt::endl;
        return ExitDone;
    }
    if (action == u"disable") {
        if (const Status s = rollup::disable(*sqlca); !s)
            return failed(action, s.error);
        out << "kept figures disabled: reports scan H_stat" << Qt::endl;
        return ExitDone;
    }
    const auto enabled = rollup::isEnabled(*sqlca, &error);
    if (!enabled)
        return failed(action, error);
    if (!*enabled) {
        err() << "rollup " << action
              << ": the database keeps no per-level figures (allstats rollup enable --db "
              << Sqlca::shownDatabase(parser.value(QStringLiteral("db"))) << " adds them)" << Qt::endl;
        return ExitRefused;
    }
    if (action == u"status") {
        const auto periods = rollup::status(*sqlca, &error);
        if (!periods)
            return failed(action, error);
        out << "period\tstate\tkept rows\tbuilt parts\tstale parts\n";
        for (const rollup::PeriodState& p : *periods) {
            const QString state = p.staleParts > 0                   ? QStringLiteral("stale")
                                  : p.inFigures && p.builtParts == 0 ? QStringLiteral("not built")
                                  : !p.inFigures && p.keptRows > 0   ? QStringLiteral("no figures")
                                                                     : QStringLiteral("fresh");
            out << p.period << '\t' << state << '\t' << p.keptRows << '\t' << p.builtParts << '\t'
                << p.staleParts << '\n';
        }
        out.flush();
        return ExitDone;
    }
    if (!period.isEmpty())
        return rebuildStale(*sqlca, {period}, true);
    const auto stale = rollup::stalePeriods(*sqlca, &error);
    if (!stale)
        return failed(action, error);
    return rebuildStale(*sqlca, *stale, false);
}
