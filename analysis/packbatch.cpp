// `allstats pack`: the report of every region of a level under a region,
// written into one folder.
#include "analysis/packbatch.h"

#include "analysis/pack.h"
#include "foundation/host.h"
#include "host/batchrun.h"
#include "host/sqlhost.h"
#include "report/batchsession.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTextStream>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

} // namespace

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
        for (const QString& line : step.message.split(u'\n'))
            err() << "pack: " << line << Qt::endl;
        if (step.kind == Pack::Failed && !pack.regions().isEmpty())
            err() << "pack: " << pack.writtenSoFar() << Qt::endl;
        switch (step.kind) {
        case Pack::Refused:
            return int(ExitRefused);
        case Pack::TargetRefused:
            return int(ExitUsage);
        case Pack::OutputError:
            return int(ExitOutput);
        default:
            return int(ExitDatabase);
        }
    };
    if (const Pack::Step step = pack.prepare(); step.kind != Pack::Written)
        return fail(step);
    // A server that stops answering ends the process; its message says what is there.
    s.watchdog->setProgress([&pack] { return pack.writtenSoFar(); });
    const auto forget = qScopeGuard([&] { s.watchdog->setProgress(nullptr); });

    const InterruptCatcher interrupt;
    const qsizetype total = pack.regions().size();
    while (!pack.atEnd()) {
        if (interrupt.interrupted()) {
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
