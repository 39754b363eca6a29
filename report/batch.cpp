// `allstats report`: the statistics run without a window, written out as JSON,
// CSV, a spreadsheet or the printed report.
#include "report/batch.h"

#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"
#include "foundation/host.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "host/options.h"
#include "host/sqlhost.h"
#include "host/xlsxexport.h"
#include "report/d_xmjdzl.h"
#include "report/output.h"
#include "report/statsrun.h"

#include <QCommandLineParser>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>

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

bool writeBytes(const QString& out, const QByteArray& bytes, QString* error)
{
    if (out == u"-") {
        QFile f;
        if (!f.open(stdout, QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush()) {
            *error = QStringLiteral("cannot write to standard output");
            return false;
        }
        return true;
    }
    // Written whole or not at all: a failed write leaves no truncated report.
    QSaveFile f(out);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(out, f.errorString());
        return false;
    }
    return true;
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
    return writeBytes(out, f.readAll(), error);
}

} // namespace

int runReport(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the report 项目进度及借款质量表 without a window and writes it out."));
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
    parser.addOption({QStringLiteral("out"),
                      QStringLiteral("Output file, or - for standard output (default)."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("landscape"), QStringLiteral("Print the PDF across the page.")});

    QStringList rest = args;
    if (rest.size() > 1)
        rest.removeAt(1); // the word "report"
    if (!parser.parse(rest)) {
        err() << "report: " << parser.errorText() << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return ExitDone;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err() << "report: unexpected argument: " << parser.positionalArguments().first() << Qt::endl;
        return ExitUsage;
    }
    auto value = [&](const char* name) { return parser.value(QString::fromLatin1(name)); };
    for (const char* required : {"db", "year", "month"}) {
        if (!parser.isSet(QString::fromLatin1(required))) {
            err() << "report: --" << required << " is required" << Qt::endl;
            return ExitUsage;
        }
    }

    const QString year = value("year").trimmed();
    bool ok = false;
    const int y = year.toInt(&ok);
    if (year.size() != 4 || !ok || y < 1000) {
        err() << "report: --year must be a four-digit year: " << year << Qt::endl;
        return ExitUsage;
    }
    const int m = value("month").trimmed().toInt(&ok);
    if (!ok || m < 1 || m > 12) {
        err() << "report: --month must be a month from 1 to 12: " << value("month") << Qt::endl;
        return ExitUsage;
    }
    const QString period =
        parser.isSet(QStringLiteral("period")) ? value("period").trimmed() : currentPeriod();
    if (!isValidPeriod(period)) {
        err() << "report: --period must be YYYYMM with a month from 01 to 12: " << period << Qt::endl;
        return ExitUsage;
    }
    const QString out = parser.isSet(QStringLiteral("out")) ? value("out") : QStringLiteral("-");
    if (out.isEmpty()) {
        err() << "report: --out needs a file name or -" << Qt::endl;
        return ExitUsage;
    }
    const QString format = formatOf(parser, out);
    if (format != u"json" && format != u"csv" && format != u"xlsx" && format != u"pdf") {
        err() << "report: --format must be json, csv, xlsx or pdf: " << format << Qt::endl;
        return ExitUsage;
    }

    // A mistyped hooks folder would silently leave the derived figures at zero.
    const QString hooksDir = parser.isSet(QStringLiteral("hooks")) ? value("hooks") : defaultHooksDir();
    if (parser.isSet(QStringLiteral("hooks")) && !QFileInfo(hooksDir).isDir()) {
        err() << "report: --hooks is not a folder: " << hooksDir << Qt::endl;
        return ExitUsage;
    }

    // The report's rights gate comes before anything is read.
    const QString grant = parser.isSet(QStringLiteral("grant")) ? value("grant") : QString();
    if (rightsDenied(grant, kReportRightsPosition)) {
        err() << kRightsDenied << Qt::endl;
        return ExitRefused;
    }

    QString error;
    auto sqlca = Sqlca::connect(value("db"), &error);
    if (!sqlca) {
        err() << "report: " << error << Qt::endl;
        return ExitDatabase;
    }
    if (const QStringList missing = schema::missingTables(*sqlca); !missing.isEmpty()) {
        err() << "report: the database " << sqlca->description() << " lacks the tables "
              << missing.join(QStringLiteral(", ")) << "; create them with: allstats init-db --db "
              << value("db") << Qt::endl;
        return ExitDatabase;
    }

    // The region as the region box gives it: a code of s_qybm, shown by its name.
    ReportRequest request;
    request.year = year;
    request.month = QString::number(m);
    request.scheme = parser.isSet(QStringLiteral("scheme")) ? value("scheme") : QStringLiteral("");
    request.region = value("region").trimmed();
    if (!request.region.isEmpty()) {
        const auto row = sqlca->selectRow(
            QStringLiteral("SELECT qymc FROM s_qybm WHERE trim(qybm) = ? ORDER BY qybm LIMIT 1"),
            {request.region});
        if (!row) {
            if (sqlca->SQLCode == 100) {
                err() << "report: unknown region code \"" << request.region
                      << "\": it is not a region code of s_qybm" << Qt::endl;
                return ExitRefused;
            }
            err() << "report: " << sqlca->SQLErrText << Qt::endl;
            return ExitDatabase;
        }
        request.regionName = row->value(0).toString().trimmed();
    }

    SqlHost host(*sqlca, hooksDir);
    host.gs_kjqj = period;
    host.gs_userqybm =
        parser.isSet(QStringLiteral("user-region")) ? value("user-region").trimmed() : QStringLiteral("");
    host.gs_usergrant = grant;

    GridBuffer grid(d_xmjdzl());
    attachReportTidying(grid);
    grid.SetTransObject(sqlca.get());
    if (parser.isSet(QStringLiteral("landscape")))
        grid.setOrientation(1);

    const RunOutcome outcome = runStatistics(host, grid, request);
    if (outcome.kind == RunOutcome::Refused) {
        err() << outcome.message << Qt::endl;
        return ExitRefused;
    }
    if (outcome.kind == RunOutcome::Failed) {
        err() << "report: " << outcome.message << Qt::endl;
        return ExitDatabase;
    }

    bool written = false;
    if (format == u"json") {
        written = writeBytes(out, reportJson(grid), &error);
    } else if (format == u"csv") {
        written = writeBytes(out, reportCsv(grid), &error);
    } else if (format == u"xlsx") {
        written = writeFileFormat(
            out, format,
            [&](const QString& path, QString* e) {
                const Status s = writeXlsx(grid, path);
                if (!s)
                    *e = s.error;
                return s.ok;
            },
            &error);
    } else {
        written = writeFileFormat(
            out, format, [&](const QString& path, QString* e) { return writePdf(grid, path, e); }, &error);
    }
    if (!written) {
        err() << "report: " << error << Qt::endl;
        return ExitDatabase;
    }
    return ExitDone;
}
