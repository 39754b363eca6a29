// `allstats trend` and `allstats rank`: the trend of indicators over months and
// the ranking of sub-regions, each figure from one statistics run, written out
// as JSON, CSV, a spreadsheet with a live chart, or the chart as PNG or PDF.
#include "report/trendbatch.h"

#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "host/batchrun.h"
#include "host/options.h"
#include "host/sqlhost.h"
#include "report/trend.h"
#include "report/trendoutput.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <memory>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

const QString kRightsDenied = QStringLiteral("你无权限执行该操作,请询问系统管理员");
// The trend and the ranking show the report's figures: the report's right.
constexpr int kReportRightsPosition = 25;
constexpr int kInterrupted = 130;

const QStringList kFormats = {QStringLiteral("json"), QStringLiteral("csv"), QStringLiteral("xlsx"),
                              QStringLiteral("png"), QStringLiteral("pdf")};

// Ctrl-C: the command stops after the run being made.
std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int)
{
    g_interrupted.store(true);
}

// What both commands share: the options, the database, the region and the host.
struct Session
{
    QCommandLineParser parser;
    QString command;
    QString format;
    QString out;
    std::unique_ptr<Sqlca> sqlca;
    std::unique_ptr<batch::Watchdog> watchdog;
    std::unique_ptr<SqlHost> host;
    QString region;
    QString regionName;

    QString value(const char* name) const { return parser.value(QString::fromLatin1(name)); }
    bool isSet(const char* name) const { return parser.isSet(QString::fromLatin1(name)); }
};

void addCommonOptions(QCommandLineParser& parser)
{
    parser.addHelpOption();
    addSessionOptions(parser); // --db, --user-region, --period, --grant, --hooks
    parser.addOption({QStringLiteral("scheme"), QStringLiteral("Indicator scheme name (kind 1)."),
                      QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("region"), QStringLiteral("Region code, a code of s_qybm."), QStringLiteral("CODE")});
    parser.addOption({QStringLiteral("format"), QStringLiteral("json (default), csv, xlsx, png or pdf."),
                      QStringLiteral("FORMAT")});
    parser.addOption({QStringLiteral("out"),
                      QStringLiteral("Output file, or - for standard output (default)."),
                      QStringLiteral("FILE")});
    batch::addLimitOptions(parser); // --wait, --timeout
}

// Parses and checks what both commands take. ExitDone to go on, -1 when the
// help was shown, an exit code otherwise.
int parseCommon(Session& s, const QStringList& args, const QList<const char*>& required)
{
    QStringList rest = args;
    if (rest.size() > 1)
        rest.removeAt(1); // the command word
    if (!s.parser.parse(rest)) {
        err() << s.command << ": " << s.parser.errorText() << Qt::endl;
        return ExitUsage;
    }
    if (s.isSet("help")) {
        QTextStream(stdout) << s.parser.helpText();
        return -1;
    }
    if (!s.parser.positionalArguments().isEmpty()) {
        err() << s.command << ": unexpected argument: " << s.parser.positionalArguments().first() << Qt::endl;
        return ExitUsage;
    }
    for (const char* option : required) {
        if (!s.isSet(option)) {
            err() << s.command << ": --" << option << " is required" << Qt::endl;
            return ExitUsage;
        }
    }
    s.out = s.isSet("out") ? s.value("out") : QStringLiteral("-");
    if (s.out.isEmpty()) {
        err() << s.command << ": --out needs a file name or -" << Qt::endl;
        return ExitUsage;
    }
    if (const QString refusal = batch::outputRefusal(s.out, s.value("db")); !refusal.isEmpty()) {
        err() << s.command << ": " << refusal << Qt::endl;
        return ExitUsage;
    }
    if (s.isSet("format")) {
        s.format = s.value("format").trimmed().toLower();
    } else {
        const QString suffix = QFileInfo(s.out).suffix().toLower();
        s.format = s.out != u"-" && kFormats.contains(suffix) ? suffix : QStringLiteral("json");
    }
    if (!kFormats.contains(s.format)) {
        err() << s.command << ": --format must be json, csv, xlsx, png or pdf: " << s.format << Qt::endl;
        return ExitUsage;
    }
    const QString period = s.isSet("period") ? s.value("period").trimmed() : currentPeriod();
    if (!isValidPeriod(period)) {
        err() << s.command << ": --period must be YYYYMM with a month from 01 to 12: " << period << Qt::endl;
        return ExitUsage;
    }
    return ExitDone;
}

// The hooks folder, the rights gate, the database, the region and the host.
int openSession(Session& s)
{
    const QString hooksDir = s.isSet("hooks") ? s.value("hooks") : defaultHooksDir();
    if (s.isSet("hooks") && !QFileInfo(hooksDir).isDir()) {
        err() << s.command << ": --hooks is not a folder: " << hooksDir << Qt::endl;
        return ExitUsage;
    }
    batch::Limits limits;
    if (QString why; !batch::readLimits(s.parser, &limits, &why)) {
        err() << s.command << ": " << why << Qt::endl;
        return ExitUsage;
    }
    const QString grant = s.isSet("grant") ? s.value("grant") : QString();
    if (rightsDenied(grant, kReportRightsPosition)) {
        err() << kRightsDenied << Qt::endl;
        return ExitRefused;
    }

    QString error;
    s.sqlca = Sqlca::connect(s.value("db"), &error);
    if (!s.sqlca) {
        err() << s.command << ": " << error << Qt::endl;
        return ExitDatabase;
    }
    s.watchdog = std::make_unique<batch::Watchdog>(*s.sqlca, limits, s.command);
    const QStringList missing = schema::missingTables(*s.sqlca);
    if (s.sqlca->SQLCode == -1) {
        err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
        return ExitDatabase;
    }
    if (!missing.isEmpty()) {
        err() << s.command << ": the database " << s.sqlca->description() << " lacks the tables "
              << missing.join(QStringLiteral(", ")) << "; create them with: allstats init-db --db "
              << Sqlca::shownDatabase(s.value("db")) << Qt::endl;
        return ExitDatabase;
    }

    // The region as the region box gives it: a code of s_qybm, shown by its name.
    s.region = s.value("region").trimmed();
    if (!s.region.isEmpty()) {
        const auto row = s.sqlca->selectRow(
            QStringLiteral("SELECT qymc FROM s_qybm WHERE trim(qybm) = ? ORDER BY qybm LIMIT 1"), {s.region});
        if (!row) {
            if (s.sqlca->SQLCode == 100) {
                err() << s.command << ": unknown region code \"" << s.region
                      << "\": it is not a region code of s_qybm" << Qt::endl;
                return ExitRefused;
            }
            err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
            return ExitDatabase;
        }
        s.regionName = row->value(0).toString().trimmed();
    }

    s.host = std::make_unique<SqlHost>(*s.sqlca, hooksDir);
    s.host->gs_kjqj = s.isSet("period") ? s.value("period").trimmed() : currentPeriod();
    s.host->gs_userqybm = s.isSet("user-region") ? s.value("user-region").trimmed() : QStringLiteral("");
    s.host->gs_usergrant = grant;
    return ExitDone;
}

// png and pdf need the chart drawing, which the desktop program installs.
bool chartAvailable(const Session& s, bool installed)
{
    if ((s.format == u"png" || s.format == u"pdf") && !installed) {
        err() << s.command << ": the " << s.format
              << " format needs the chart drawing of the desktop program, which this build lacks; "
                 "use json, csv or xlsx"
              << Qt::endl;
        return false;
    }
    return true;
}

// Binary formats are written by their writers to a file; for standard output
// they go through a temporary file.
bool writeFileFormat(const Session& s, const std::function<Status(const QString& path)>& writer,
                     QString* error)
{
    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder: %1").arg(tmp.errorString());
        return false;
    }
    const QString path = tmp.filePath(QStringLiteral("out.") + s.format);
    if (const Status st = writer(path); !st) {
        *error = st.error;
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    return batch::writeOutput(s.out, f.readAll(), error);
}

// Runs the steps with progress on standard error; Ctrl-C stops between steps.
template <typename Steps> int runSteps(Session& s, Steps& steps, const char* unit)
{
    auto fail = [&](const TrendStep& step) {
        err() << s.command << ": " << step.message << Qt::endl;
        return int(step.kind == TrendStep::Refused ? ExitRefused : ExitDatabase);
    };
    if (const TrendStep step = steps.prepare(); !step)
        return fail(step);
    g_interrupted.store(false);
    auto previous = std::signal(SIGINT, onInterrupt);
    const auto restore = qScopeGuard([&] { std::signal(SIGINT, previous); });
    while (!steps.atEnd()) {
        if (g_interrupted.load()) {
            err() << s.command << ": stopped after " << steps.done() << " of " << steps.total() << ' ' << unit
                  << Qt::endl;
            return kInterrupted;
        }
        const QString caption = steps.caption(steps.done());
        if (const TrendStep step = steps.next(); !step)
            return fail(step);
        err() << caption << Qt::endl;
    }
    return ExitDone;
}

} // namespace

int runTrend(const QStringList& args)
{
    Session s;
    s.command = QStringLiteral("trend");
    s.parser.setApplicationDescription(QStringLiteral(
        "Follows indicators of the report 项目进度及借款质量表 over months: one statistics run per month."));
    addCommonOptions(s.parser);
    s.parser.addOption(
        {QStringLiteral("from"), QStringLiteral("First month, YYYYMM."), QStringLiteral("YYYYMM")});
    s.parser.addOption(
        {QStringLiteral("to"), QStringLiteral("Last month, YYYYMM."), QStringLiteral("YYYYMM")});
    s.parser.addOption(
        {QStringLiteral("indicator"),
         QStringLiteral("Indicator code; repeat for several (default: every indicator the scheme "
                        "shows)."),
         QStringLiteral("CODE")});
    s.parser.addOption({QStringLiteral("chart"),
                        QStringLiteral("line (default) or bar: how the months are drawn."),
                        QStringLiteral("KIND")});
    if (const int code = parseCommon(s, args, {"db", "from", "to"}); code != ExitDone)
        return code < 0 ? ExitDone : code;
    const QString from = s.value("from").trimmed();
    const QString to = s.value("to").trimmed();
    for (const QString& p : {from, to}) {
        if (!isValidPeriod(p)) {
            err() << "trend: --from and --to must be YYYYMM with a month from 01 to 12: " << p << Qt::endl;
            return ExitUsage;
        }
    }
    if (to < from) {
        err() << "trend: --to " << to << " lies before --from " << from << Qt::endl;
        return ExitUsage;
    }
    const QString chart = s.isSet("chart") ? s.value("chart").trimmed().toLower() : QStringLiteral("line");
    if (chart != u"line" && chart != u"bar") {
        err() << "trend: --chart must be line or bar: " << chart << Qt::endl;
        return ExitUsage;
    }
    if (!chartAvailable(s, bool(trendChartWriter())))
        return ExitUsage;
    if (const int code = openSession(s); code != ExitDone)
        return code;

    TrendRequest request;
    request.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    request.region = s.region;
    request.regionName = s.regionName;
    request.from = from;
    request.to = to;
    request.indicators = s.parser.values(QStringLiteral("indicator"));
    Trend trend(*s.host, request);
    if (const int code = runSteps(s, trend, "months"); code != ExitDone)
        return code;

    const TrendTable& table = trend.table();
    const bool bars = chart == u"bar";
    QString error;
    bool written = false;
    if (s.format == u"json") {
        written = batch::writeOutput(s.out, trendJson(table), &error);
    } else if (s.format == u"csv") {
        written = batch::writeOutput(s.out, trendCsv(table), &error);
    } else if (s.format == u"xlsx") {
        written = writeFileFormat(
            s, [&](const QString& path) { return writeTrendXlsx(table, path, bars); }, &error);
    } else {
        written = writeFileFormat(
            s,
            [&](const QString& path) {
                return trendChartWriter()(table, ChartFile{path, s.format, bars});
            },
            &error);
    }
    if (!written) {
        err() << "trend: " << error << Qt::endl;
        return ExitOutput;
    }
    return ExitDone;
}

int runRank(const QStringList& args)
{
    Session s;
    s.command = QStringLiteral("rank");
    s.parser.setApplicationDescription(QStringLiteral(
        "Ranks the sub-regions of a region (the next level down) by an indicator of the report "
        "项目进度及借款质量表 in one month: one statistics run per sub-region."));
    addCommonOptions(s.parser);
    s.parser.addOption(
        {QStringLiteral("year"), QStringLiteral("Year of the report, YYYY."), QStringLiteral("YYYY")});
    s.parser.addOption(
        {QStringLiteral("month"), QStringLiteral("Month of the report, 1 to 12."), QStringLiteral("M")});
    s.parser.addOption(
        {QStringLiteral("indicator"), QStringLiteral("Indicator code."), QStringLiteral("CODE")});
    if (const int code = parseCommon(s, args, {"db", "year", "month", "indicator"}); code != ExitDone)
        return code < 0 ? ExitDone : code;
    const QString year = s.value("year").trimmed();
    bool ok = false;
    const int y = year.toInt(&ok);
    if (year.size() != 4 || !ok || y < 1000) {
        err() << "rank: --year must be a four-digit year: " << year << Qt::endl;
        return ExitUsage;
    }
    const int month = s.value("month").trimmed().toInt(&ok);
    if (!ok || month < 1 || month > 12) {
        err() << "rank: --month must be a month from 1 to 12: " << s.value("month") << Qt::endl;
        return ExitUsage;
    }
    if (s.parser.values(QStringLiteral("indicator")).size() > 1) {
        err() << "rank: --indicator names one indicator" << Qt::endl;
        return ExitUsage;
    }
    if (!chartAvailable(s, bool(rankChartWriter())))
        return ExitUsage;
    if (const int code = openSession(s); code != ExitDone)
        return code;

    RankRequest request;
    request.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    request.region = s.region;
    request.regionName = s.regionName;
    request.year = year;
    request.month = month;
    request.indicator = s.value("indicator").trimmed();
    Rank rank(*s.host, request);
    if (const int code = runSteps(s, rank, "regions"); code != ExitDone)
        return code;

    const RankTable& table = rank.table();
    QString error;
    bool written = false;
    if (s.format == u"json") {
        written = batch::writeOutput(s.out, rankJson(table), &error);
    } else if (s.format == u"csv") {
        written = batch::writeOutput(s.out, rankCsv(table), &error);
    } else if (s.format == u"xlsx") {
        written = writeFileFormat(
            s, [&](const QString& path) { return writeRankXlsx(table, path); }, &error);
    } else {
        written = writeFileFormat(
            s,
            [&](const QString& path) {
                return rankChartWriter()(table, ChartFile{path, s.format, true});
            },
            &error);
    }
    if (!written) {
        err() << "rank: " << error << Qt::endl;
        return ExitOutput;
    }
    return ExitDone;
}
