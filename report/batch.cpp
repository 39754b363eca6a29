// `allstats report`: the statistics run without a window, written out as JSON,
// CSV, a spreadsheet or the printed report.
#include "report/batch.h"

#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"
#include "foundation/host.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "host/batchrun.h"
#include "host/options.h"
#include "host/sqlhost.h"
#include "host/xlsxexport.h"
#include "report/d_xmjdzl.h"
#include "report/output.h"
#include "report/pack.h"
#include "report/statsrun.h"

#include <QCommandLineParser>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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
constexpr int kReportRightsPosition = 25;

QString formatOf(const QCommandLineParser& parser, const QString& out)
{
    if (parser.isSet(QStringLiteral("format")))
        return parser.value(QStringLiteral("format")).trimmed().toLower();
    const QString suffix = QFileInfo(out).suffix().toLower();
    if (out != u"-" && (suffix == u"csv" || suffix == u"xlsx" || suffix == u"pdf" || suffix == u"json"))
        return suffix;
    return QStringLiteral("json");
}

// Binary formats are written by their writers to a file; for standard output
// they go through a temporary file.
bool writeFileFormat(const QString& out, const QString& suffix,
                     const std::function<bool(const QString& path, QString* error)>& writer, QString* error)
{
    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder: %1").arg(tmp.errorString());
        return false;
    }
    const QString path = tmp.filePath(QStringLiteral("report.") + suffix);
    if (!writer(path, error))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    return batch::writeOutput(out, f.readAll(), error);
}

// What `report` and `pack` share: the options, their checks, the database and
// the region, the host.
struct ReportSession
{
    QCommandLineParser parser;
    QString command;
    QString year;
    int month = 0;
    QString period;
    std::unique_ptr<Sqlca> sqlca;
    std::unique_ptr<SqlHost> host;
    batch::Limits limits;
    std::unique_ptr<batch::Watchdog> watchdog; // goes before the connection it watches
    QString regionName;

    QString value(const char* name) const { return parser.value(QString::fromLatin1(name)); }
    bool isSet(const char* name) const { return parser.isSet(QString::fromLatin1(name)); }
};

void addReportOptions(QCommandLineParser& parser)
{
    parser.addHelpOption();
    addSessionOptions(parser); // --db, --user-region, --period, --grant, --hooks
    parser.addOption({QStringLiteral("scheme"), QStringLiteral("Indicator scheme name (kind 1)."),
                      QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("year"), QStringLiteral("Year of the report, YYYY."), QStringLiteral("YYYY")});
    parser.addOption(
        {QStringLiteral("month"), QStringLiteral("Month of the report, 1 to 12."), QStringLiteral("M")});
    parser.addOption(
        {QStringLiteral("region"), QStringLiteral("Region code, a code of s_qybm."), QStringLiteral("CODE")});
    parser.addOption({QStringLiteral("format"), QStringLiteral("json (default), csv, xlsx or pdf."),
                      QStringLiteral("FORMAT")});
    parser.addOption({QStringLiteral("landscape"), QStringLiteral("Print the PDF across the page.")});
    batch::addLimitOptions(parser); // --wait, --timeout
}

// Parses the arguments and checks the options every report command takes.
// ExitDone to go on; -1 when the help was shown; an exit code otherwise.
int parseReportOptions(ReportSession& s, const QStringList& args)
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
    for (const char* required : {"db", "year", "month"}) {
        if (!s.isSet(required)) {
            err() << s.command << ": --" << required << " is required" << Qt::endl;
            return ExitUsage;
        }
    }
    s.year = s.value("year").trimmed();
    bool ok = false;
    const int y = s.year.toInt(&ok);
    if (s.year.size() != 4 || !ok || y < 1000) {
        err() << s.command << ": --year must be a four-digit year: " << s.year << Qt::endl;
        return ExitUsage;
    }
    s.month = s.value("month").trimmed().toInt(&ok);
    if (!ok || s.month < 1 || s.month > 12) {
        err() << s.command << ": --month must be a month from 1 to 12: " << s.value("month") << Qt::endl;
        return ExitUsage;
    }
    s.period = s.isSet("period") ? s.value("period").trimmed() : currentPeriod();
    if (!isValidPeriod(s.period)) {
        err() << s.command << ": --period must be YYYYMM with a month from 01 to 12: " << s.period
              << Qt::endl;
        return ExitUsage;
    }
    if (QString why; !batch::readLimits(s.parser, &s.limits, &why)) {
        err() << s.command << ": " << why << Qt::endl;
        return ExitUsage;
    }
    return ExitDone;
}

// The hooks folder, the rights gate, the database, the region (when given)
// and the host, in this order. ExitDone to go on, an exit code otherwise.
int openReportSession(ReportSession& s)
{
    // A mistyped hooks folder would silently leave the derived figures at zero.
    const QString hooksDir = s.isSet("hooks") ? s.value("hooks") : defaultHooksDir();
    if (s.isSet("hooks") && !QFileInfo(hooksDir).isDir()) {
        err() << s.command << ": --hooks is not a folder: " << hooksDir << Qt::endl;
        return ExitUsage;
    }

    // The report's rights gate comes before anything is read.
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
    s.watchdog = std::make_unique<batch::Watchdog>(*s.sqlca, s.limits, s.command);
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
    const QString region = s.value("region").trimmed();
    if (!region.isEmpty()) {
        const auto row = s.sqlca->selectRow(
            QStringLiteral("SELECT qymc FROM s_qybm WHERE trim(qybm) = ? ORDER BY qybm LIMIT 1"), {region});
        if (!row) {
            if (s.sqlca->SQLCode == 100) {
                err() << s.command << ": unknown region code \"" << region
                      << "\": it is not a region code of s_qybm" << Qt::endl;
                return ExitRefused;
            }
            err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
            return ExitDatabase;
        }
        s.regionName = row->value(0).toString().trimmed();
    }

    // A scheme name no kind-1 scheme carries would give an empty report that looks done.
    if (const QString scheme = s.value("scheme"); !scheme.isEmpty()) {
        const QVariant n = s.sqlca->selectValue(
            QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND famc = ?"), {scheme});
        if (s.sqlca->SQLCode == -1) {
            err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
            return ExitDatabase;
        }
        if (n.toInt() == 0) {
            err() << s.command << ": unknown scheme \"" << scheme
                  << "\": no indicator scheme of kind 1 has this name" << Qt::endl;
            return ExitRefused;
        }
    }

    s.host = std::make_unique<SqlHost>(*s.sqlca, hooksDir);
    s.host->gs_kjqj = s.period;
    s.host->gs_userqybm = s.isSet("user-region") ? s.value("user-region").trimmed() : QStringLiteral("");
    s.host->gs_usergrant = grant;
    return ExitDone;
}

// Ctrl-C during a pack: the pack stops after the report being made.
std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int)
{
    g_interrupted.store(true);
}

} // namespace

int runReport(const QStringList& args)
{
    ReportSession s;
    s.command = QStringLiteral("report");
    s.parser.setApplicationDescription(
        QStringLiteral("Runs the report 项目进度及借款质量表 without a window and writes it out."));
    addReportOptions(s.parser);
    s.parser.addOption({QStringLiteral("out"),
                        QStringLiteral("Output file, or - for standard output (default)."),
                        QStringLiteral("FILE")});
    s.parser.addOption(
        {QStringLiteral("pdf-a"), QStringLiteral("Write the PDF as PDF/A-1b, for archiving.")});
    if (const int code = parseReportOptions(s, args); code != ExitDone)
        return code < 0 ? ExitDone : code;

    const QString out = s.isSet("out") ? s.value("out") : QStringLiteral("-");
    if (out.isEmpty()) {
        err() << "report: --out needs a file name or -" << Qt::endl;
        return ExitUsage;
    }
    // The report never replaces the database it reads.
    if (const QString refusal = batch::outputRefusal(out, s.value("db")); !refusal.isEmpty()) {
        err() << "report: " << refusal << Qt::endl;
        return ExitUsage;
    }
    const QString format = formatOf(s.parser, out);
    if (format != u"json" && format != u"csv" && format != u"xlsx" && format != u"pdf") {
        err() << "report: --format must be json, csv, xlsx or pdf: " << format << Qt::endl;
        return ExitUsage;
    }
    if (s.isSet("pdf-a") && format != u"pdf") {
        err() << "report: --pdf-a applies to the pdf format only, not " << format << Qt::endl;
        return ExitUsage;
    }
    if (const int code = openReportSession(s); code != ExitDone)
        return code;

    ReportRequest request;
    request.year = s.year;
    request.month = QString::number(s.month);
    request.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    request.region = s.value("region").trimmed();
    request.regionName = s.regionName;

    GridBuffer grid(d_xmjdzl());
    attachReportTidying(grid);
    grid.SetTransObject(s.sqlca.get());
    if (s.isSet("landscape"))
        grid.setOrientation(1);

    const RunOutcome outcome = runStatistics(*s.host, grid, request);
    if (outcome.kind == RunOutcome::Refused) {
        err() << outcome.message << Qt::endl;
        return ExitRefused;
    }
    if (outcome.kind == RunOutcome::Failed) {
        err() << "report: " << outcome.message << Qt::endl;
        return ExitDatabase;
    }

    QString error;
    bool written = false;
    if (format == u"json") {
        written = batch::writeOutput(out, reportJson(grid), &error);
    } else if (format == u"csv") {
        written = batch::writeOutput(out, reportCsv(grid), &error);
    } else if (format == u"xlsx") {
        written = writeFileFormat(
            out, format,
            [&](const QString& path, QString* e) {
                const Status st = writeXlsx(grid, path);
                if (!st)
                    *e = st.error;
                return st.ok;
            },
            &error);
    } else {
        written = writeFileFormat(
            out, format,
            [&](const QString& path, QString* e) {
                PdfOptions pdf;
                pdf.archival = s.isSet("pdf-a");
                return writePdf(grid, path, e, pdf);
            },
            &error);
    }
    if (!written) {
        err() << "report: " << error << Qt::endl;
        return ExitOutput;
    }
    return ExitDone;
}

int runPack(const QStringList& args)
{
    ReportSession s;
    s.command = QStringLiteral("pack");
    s.parser.setApplicationDescription(
        QStringLiteral("Writes the report 项目进度及借款质量表 of every region of a level under a region."));
    addReportOptions(s.parser);
    s.parser.addOption({QStringLiteral("level"),
                        QStringLiteral("village, town, county or city: the regions with codes of 12, 9, "
                                       "6 or 4 characters under --region."),
                        QStringLiteral("LEVEL")});
    s.parser.addOption({QStringLiteral("out"), QStringLiteral("Output folder (default the current folder)."),
                        QStringLiteral("DIR")});
    if (const int code = parseReportOptions(s, args); code != ExitDone)
        return code < 0 ? ExitDone : code;

    for (const char* required : {"region", "level"}) {
        if (!s.isSet(required)) {
            err() << "pack: --" << required << " is required" << Qt::endl;
            return ExitUsage;
        }
    }
    const int length = packLevelLength(s.value("level"));
    if (length == 0) {
        err() << "pack: --level must be village, town, county or city: " << s.value("level") << Qt::endl;
        return ExitUsage;
    }
    const QString format = s.isSet("format") ? s.value("format").trimmed().toLower() : QStringLiteral("json");
    if (format != u"json" && format != u"csv" && format != u"xlsx" && format != u"pdf") {
        err() << "pack: --format must be json, csv, xlsx or pdf: " << format << Qt::endl;
        return ExitUsage;
    }
    const QString folder = s.isSet("out") ? s.value("out") : QStringLiteral(".");
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        err() << "pack: --out is not a folder: " << folder << Qt::endl;
        return ExitUsage;
    }
    if (const int code = openReportSession(s); code != ExitDone)
        return code;

    PackRequest request;
    request.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    request.year = s.year;
    request.month = QString::number(s.month);
    request.region = s.value("region").trimmed();
    request.regionName = s.regionName;
    request.codeLength = length;
    request.format = format;
    request.folder = folder;
    request.landscape = s.isSet("landscape");

    Pack pack(*s.host, request);
    auto fail = [&](const Pack::Step& step) {
        pack.stop();
        err() << "pack: " << step.message << Qt::endl;
        switch (step.kind) {
        case Pack::Refused:
            return int(ExitRefused);
        case Pack::OutputError:
            return int(ExitOutput);
        default:
            return int(ExitDatabase);
        }
    };
    if (const Pack::Step step = pack.prepare(); step.kind != Pack::Written)
        return fail(step);

    g_interrupted.store(false);
    auto previous = std::signal(SIGINT, onInterrupt);
    const auto restore = qScopeGuard([&] { std::signal(SIGINT, previous); });
    const qsizetype total = pack.regions().size();
    while (!pack.atEnd()) {
        if (g_interrupted.load()) {
            pack.stop();
            err() << "pack: stopped after " << pack.done() << " of " << total << " reports" << Qt::endl;
            return ExitInterrupted;
        }
        const QString name = pack.regions().at(pack.done()).name;
        if (const Pack::Step step = pack.next(); step.kind != Pack::Written)
            return fail(step);
        err() << pack.done() << '/' << total << ' ' << name << Qt::endl;
    }
    if (const Pack::Step step = pack.finish(); step.kind != Pack::Written)
        return fail(step);
    return ExitDone;
}
