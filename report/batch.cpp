// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "report/batchsession.h"
#include "report/d_xmjdzl.h"
#include "report/output.h"
#include "report/statsrun.h"

#include <QCommandLineParser>
#include <QDate>
#include <QFileInfo>
#include <QTextStream>
#include <memory>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

QString formatOf(const QCommandLineParser& parser, const QString& out)
{
    if (parser.isSet(QStringLiteral("format")))
        return parser.value(QStringLiteral("format")).trimmed().toLower();
    const QString suffix = QFileInfo(out).suffix().toLower();
    if (out != u"-" && (suffix == u"csv" || suffix == u"xlsx" || suffix == u"pdf" || suffix == u"json"))
        return suffix;
    return QStringLiteral("json");
}

// Binary formats are made in memory by their writers, then written out as the
// text formats are: to standard output, into a pipe or device, or whole or not
// at all to a file, each write checked.
bool writeFileFormat(const QString& out, const std::function<bool(QByteArray* bytes, QString* error)>& writer,
                     QString* error)
{
    QByteArray bytes;
    return writer(&bytes, error) && batch::writeOutput(out, bytes, error);
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
            out,
            [&](QByteArray* bytes, QString* e) {
                const Status st = writeXlsx(grid, out, bytes);
                if (!st)
                    *e = st.error;
                return st.ok;
            },
            &error);
    } else {
        written = writeFileFormat(
            out,
            [&](QByteArray* bytes, QString* e) {
                PdfOptions pdf;
                pdf.archival = s.isSet("pdf-a");
                return writePdf(grid, out, e, pdf, bytes);
            },
            &error);
    }
    if (!written) {
        err() << "report: " << error << Qt::endl;
        return ExitOutput;
    }
    return ExitDone;
}
