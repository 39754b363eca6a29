// SPDX-License-Identifier: GPL-3.0-or-later
// `allstats trend` and `allstats rank`: the trend of indicators over months and
// the ranking of sub-regions, each figure from one statistics run, written out
// as JSON, CSV, a spreadsheet with a live chart, or the chart as PNG or PDF.
#include "analysis/trendbatch.h"

#include "analysis/trend.h"
#include "analysis/trendoutput.h"
#include "host/batchrun.h"
#include "report/batchsession.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

const QStringList kFormats = {QStringLiteral("json"), QStringLiteral("csv"), QStringLiteral("xlsx"),
                              QStringLiteral("png"), QStringLiteral("pdf")};

// What trend and rank take beside the shared options.
void addOutputOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("format"), QStringLiteral("json (default), csv, xlsx, png or pdf."),
                      QStringLiteral("FORMAT")});
    parser.addOption({QStringLiteral("out"),
                      QStringLiteral("Output file, or - for standard output (default)."),
                      QStringLiteral("FILE")});
}

// --out and --format: the format from the option, else from the suffix of the file, else json.
int readOutput(const ReportSession& s, QString* out, QString* format)
{
    *out = s.isSet("out") ? s.value("out") : QStringLiteral("-");
    if (out->isEmpty()) {
        err() << s.command << ": --out needs a file name or -" << Qt::endl;
        return ExitUsage;
    }
    // Never the database it reads.
    if (const QString refusal = batch::outputRefusal(*out, s.value("db")); !refusal.isEmpty()) {
        err() << s.command << ": " << refusal << Qt::endl;
        return ExitUsage;
    }
    if (s.isSet("format")) {
        *format = s.value("format").trimmed().toLower();
    } else {
        const QString suffix = QFileInfo(*out).suffix().toLower();
        *format = *out != u"-" && kFormats.contains(suffix) ? suffix : QStringLiteral("json");
    }
    if (!kFormats.contains(*format)) {
        err() << s.command << ": --format must be json, csv, xlsx, png or pdf: " << *format << Qt::endl;
        return ExitUsage;
    }
    return ExitDone;
}

// png and pdf need the chart drawing, which the desktop program installs.
bool chartAvailable(const ReportSession& s, const QString& format, bool installed)
{
    if ((format == u"png" || format == u"pdf") && !installed) {
        err() << s.command << ": the " << format
              << " format needs the chart drawing of the desktop program, which this build lacks; "
                 "use json, csv or xlsx"
              << Qt::endl;
        return false;
    }
    return true;
}

// Binary formats are made in memory by their writers, then written out as the
// text formats are: to standard output, into a pipe or device, or whole or not
// at all to a file, each write checked.
bool writeFileFormat(const QString& out, const std::function<Status(QByteArray* bytes)>& writer,
                     QString* error)
{
    QByteArray bytes;
    if (const Status st = writer(&bytes); !st) {
        *error = st.error;
        return false;
    }
    return batch::writeOutput(out, bytes, error);
}

// Runs the steps with progress on standard error; Ctrl-C stops between steps.
template <typename Steps> int runSteps(const ReportSession& s, Steps& steps, const char* unit)
{
    auto fail = [&](const TrendStep& step) {
        err() << s.command << ": " << step.message << Qt::endl;
        return int(step.kind == TrendStep::Refused ? ExitRefused : ExitDatabase);
    };
    if (const TrendStep step = steps.prepare(); !step)
        return fail(step);
    const InterruptCatcher interrupt;
    while (!steps.atEnd()) {
        if (interrupt.interrupted()) {
            err() << s.command << ": stopped after " << steps.done() << " of " << steps.total() << ' ' << unit
                  << Qt::endl;
            return ExitInterrupted;
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
    ReportSession s;
    s.command = QStringLiteral("trend");
    s.parser.setApplicationDescription(QStringLiteral(
        "Follows indicators of the report 项目进度及借款质量表 over months: one statistics run per month."));
    addSessionCommandOptions(s.parser);
    addOutputOptions(s.parser);
    s.parser.addOption({QStringLiteral("from"),
                        QStringLiteral("First month, YYYYMM, or previous (the month before --period)."),
                        QStringLiteral("YYYYMM")});
    s.parser.addOption({QStringLiteral("to"),
                        QStringLiteral("Last month, YYYYMM, or previous: the month before --period "
                                       "(default: before this month)."),
                        QStringLiteral("YYYYMM")});
    s.parser.addOption(
        {QStringLiteral("indicator"),
         QStringLiteral("Indicator code; repeat for several (default: every indicator the scheme "
                        "shows)."),
         QStringLiteral("CODE")});
    s.parser.addOption({QStringLiteral("chart"),
                        QStringLiteral("line (default) or bar: how the months are drawn."),
                        QStringLiteral("KIND")});
    if (const int code = parseCommandOptions(s, args, {"db", "from", "to"}); code != ExitDone)
        return code < 0 ? ExitDone : code;
    QString out;
    QString format;
    if (const int code = readOutput(s, &out, &format); code != ExitDone)
        return code;
    // "previous": the month before the session period, as for --month previous.
    auto month = [&](const char* option) {
        const QString v = s.value(option).trimmed();
        return v.toLower() == u"previous" ? previousPeriod(s.period) : v;
    };
    const QString from = month("from");
    const QString to = month("to");
    for (const QString& p : {from, to}) {
        if (!isValidPeriod(p)) {
            err() << "trend: --from and --to must be " << periodRule() << ", or previous: " << p << Qt::endl;
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
    if (!chartAvailable(s, format, bool(trendChartWriter())))
        return ExitUsage;
    if (const int code = openReportSession(s); code != ExitDone)
        return code;

    TrendRequest request;
    request.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    request.region = s.value("region").trimmed();
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
    if (format == u"json") {
        written = batch::writeOutput(out, trendJson(table), &error);
    } else if (format == u"csv") {
        written = batch::writeOutput(out, trendCsv(table), &error);
    } else if (format == u"xlsx") {
        written = writeFileFormat(
            out, [&](QByteArray* bytes) { return writeTrendXlsx(table, out, bars, bytes); }, &error);
    } else {
        written = writeFileFormat(
            out,
            [&](QByteArray* bytes) {
                return trendChartWriter()(table, ChartFile{out, format, bars, bytes});
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
    ReportSession s;
    s.command = QStringLiteral("rank");
    s.parser.setApplicationDescription(QStringLiteral(
        "Ranks the sub-regions of a region (the next level down) by an indicator of the report "
        "项目进度及借款质量表 in one month: one statistics run per sub-region."));
    addSessionCommandOptions(s.parser);
    addOutputOptions(s.parser);
    addMonthOptions(s.parser);
    s.parser.addOption(
        {QStringLiteral("indicator"), QStringLiteral("Indicator code."), QStringLiteral("CODE")});
    if (const int code = parseReportOptions(s, args); code != ExitDone)
        return code < 0 ? ExitDone : code;
    const QStringList indicators = s.parser.values(QStringLiteral("indicator"));
    if (indicators.size() != 1) {
        err() << "rank: --indicator names one indicator, and is required" << Qt::endl;
        return ExitUsage;
    }
    QString out;
    QString format;
    if (const int code = readOutput(s, &out, &format); code != ExitDone)
        return code;
    if (!chartAvailable(s, format, bool(rankChartWriter())))
        return ExitUsage;
    if (const int code = openReportSession(s); code != ExitDone)
        return code;

    RankRequest request;
    request.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    request.region = s.value("region").trimmed();
    request.regionName = s.regionName;
    request.year = s.year;
    request.month = s.month;
    request.indicator = indicators.first().trimmed();
    Rank rank(*s.host, request);
    if (const int code = runSteps(s, rank, "regions"); code != ExitDone)
        return code;

    const RankTable& table = rank.table();
    QString error;
    bool written = false;
    if (format == u"json") {
        written = batch::writeOutput(out, rankJson(table), &error);
    } else if (format == u"csv") {
        written = batch::writeOutput(out, rankCsv(table), &error);
    } else if (format == u"xlsx") {
        written = writeFileFormat(
            out, [&](QByteArray* bytes) { return writeRankXlsx(table, out, bytes); }, &error);
    } else {
        written = writeFileFormat(
            out,
            [&](QByteArray* bytes) {
                return rankChartWriter()(table, ChartFile{out, format, true, bytes});
            },
            &error);
    }
    if (!written) {
        err() << "rank: " << error << Qt::endl;
        return ExitOutput;
    }
    return ExitDone;
}
