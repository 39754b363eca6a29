// SPDX-License-Identifier: GPL-3.0-or-later
// `allstats pack`: the report of every region of a level under a region,
// written into one folder with the pack's summary; with --config, the
// scheduled pack of the month before.
#include "analysis/packbatch.h"

#include "analysis/pack.h"
#include "analysis/packconfig.h"
#include "analysis/packindex.h"
#include "foundation/host.h"
#include "host/batchrun.h"
#include "host/options.h"
#include "host/sqlhost.h"
#include "report/batchsession.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QTextStream>
#include <algorithm>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

} // namespace

namespace {

const char* const kPackUsageLevel = "village, town, county or city";

// --config: the file's keys become the options the command line leaves out
// (its own options win), the month is the previous one unless --year or
// --month is given. `merged` gets the arguments to parse.
int mergePackConfig(ReportSession& s, const QStringList& args, QStringList* merged,
                    std::optional<PackConfig>* config)
{
    *merged = args;
    QStringList rest = args;
    if (rest.size() > 1)
        rest.removeAt(1); // the command word
    // A command line that does not parse is told so by the parse that follows.
    if (!s.parser.parse(rest) || s.isSet("help") || !s.isSet("config"))
        return ExitDone;
    if (!repeatedOption(s.parser).isEmpty())
        return ExitDone;
    QString error;
    *config = readPackConfig(s.value("config"), &error);
    if (!*config) {
        err() << "pack: " << error << Qt::endl;
        return ExitUsage;
    }
    for (const PackConfigEntry& e : std::as_const((*config)->entries)) {
        if (e.key == u"folder" || s.parser.isSet(e.key))
            continue;
        if (e.key == u"landscape") {
            const QString v = e.value.toLower();
            if (v == u"yes" || v == u"true" || v == u"1")
                *merged << QStringLiteral("--landscape");
            continue;
        }
        *merged << QStringLiteral("--") + e.key << e.value;
    }
    if (!s.isSet("year") && !s.isSet("month"))
        *merged << QStringLiteral("--month") << QStringLiteral("previous");
    return ExitDone;
}

// Whether a file can be made in the folder: a probe file, made and removed
// again (the permission bits alone do not tell, for root or on a read-only mount).
bool folderWritable(const QString& folder, QString* why)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".allstats-probe-XXXXXX")));
    if (!probe.open()) {
        *why = probe.errorString();
        return false;
    }
    return true;
}

QString monthCaption(const QString& period)
{
    return QStringLiteral("%1年%2月").arg(period.left(4)).arg(period.mid(4).toInt());
}

// The pack itself, once the options are read: one pack per format into one
// folder, then its summary. `config` is the configuration it was started with, if any.
int makePack(ReportSession& s, const PackConfig* config)
{
    for (const char* required : {"region", "level"}) {
        if (!s.isSet(required)) {
            err() << "pack: --" << required << " is required" << Qt::endl;
            return ExitUsage;
        }
    }
    const int length = packLevelLength(s.value("level"));
    if (length == 0) {
        err() << "pack: --level must be " << kPackUsageLevel << ": " << s.value("level") << Qt::endl;
        return ExitUsage;
    }
    const auto formats = packFormatList(s.isSet("format") ? s.value("format") : QStringLiteral("json"));
    if (!formats) {
        err() << "pack: --format must be json, csv, xlsx or pdf, several separated by commas: "
              << s.value("format") << Qt::endl;
        return ExitUsage;
    }
    const QString period = reportPeriod(s.year, QString::number(s.month));

    // The folder is checked before the database is opened: a pack that cannot
    // be written makes no report.
    QString folder;
    if (config) {
        // A month folder of its own under the configured one; a month whose
        // folder holds the summary's index.json (written last) is complete.
        folder =
            QDir(s.isSet("out") ? s.value("out") : config->value(QStringLiteral("folder"))).filePath(period);
        if (QFileInfo::exists(QDir(folder).filePath(kPackIndexJson))) {
            err() << "pack: the pack of " << monthCaption(period) << " is complete in " << folder
                  << "; nothing to do (remove its " << kPackIndexJson << " to make it again)" << Qt::endl;
            return ExitDone;
        }
        if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
            err() << "pack: cannot create the folder " << folder << Qt::endl;
            return ExitOutput;
        }
    } else {
        folder = s.isSet("out") ? s.value("out") : QStringLiteral(".");
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            err() << "pack: --out is not a folder: " << folder << Qt::endl;
            return ExitUsage;
        }
    }
    if (QString why; !folderWritable(folder, &why)) {
        err() << "pack: cannot write into the folder " << folder << ": " << why << Qt::endl;
        return ExitOutput;
    }
    if (const int code = openReportSession(s); code != ExitDone)
        return code;

    PackIndex index;
    index.scheme = s.isSet("scheme") ? s.value("scheme") : QStringLiteral("");
    index.period = period;
    index.region = s.value("region").trimmed();
    index.regionName = s.regionName;
    index.codeLength = length;
    index.made = QDateTime::currentDateTime();
    if (!index.scheme.isEmpty()) {
        const PackHeadlineLookup h = packHeadline(*s.sqlca, index.scheme, s.value("headline"));
        if (h.failed) {
            err() << "pack: " << h.message << Qt::endl;
            return ExitDatabase;
        }
        if (!h.message.isEmpty()) {
            err() << "pack: " << h.message << Qt::endl;
            return ExitRefused;
        }
        index.headline = h.headline;
    }
    QHash<QString, QStringList> figures;

    const InterruptCatcher interrupt;
    QList<QPair<QString, QStringList>> written; // per format: the combined file's name, the files
    for (const QString& format : *formats) {
        PackRequest request;
        request.scheme = index.scheme;
        request.year = s.year;
        request.month = QString::number(s.month);
        request.region = index.region;
        request.regionName = s.regionName;
        request.codeLength = length;
        request.format = format;
        request.folder = folder;
        request.landscape = s.isSet("landscape");
        // The headline's figures from the first format's reports (every format has the same).
        if (index.headline && written.isEmpty()) {
            const PackHeadline headline = *index.headline;
            request.made = [&figures, headline](const PackRegion& region, const GridBuffer& grid) {
                if (const auto f = headlineFigures(grid, headline))
                    figures.insert(region.code, *f);
            };
        }

        Pack pack(*s.host, request);
        // A failed pack names the region it failed at; the files written before it are whole.
        auto fail = [&](const Pack::Step& step, const QString& where) {
            pack.stop();
            const QStringList lines = step.message.split(u'\n');
            err() << "pack: " << where << lines.first() << Qt::endl;
            for (const QString& line : lines.mid(1))
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
            return fail(step, QString());
        if (index.regions.isEmpty())
            for (const PackRegion& r : pack.regions())
                index.regions.append({r.code, r.name, std::nullopt, {}});
        // A server that stops answering ends the process; its message says what is there.
        s.watchdog->setProgress([&pack] { return pack.writtenSoFar(); });
        const auto forget = qScopeGuard([&] { s.watchdog->setProgress(nullptr); });

        const qsizetype total = pack.regions().size();
        const QString prefix = formats->size() > 1 ? format + u' ' : QString();
        while (!pack.atEnd()) {
            if (interrupt.interrupted()) {
                pack.stop();
                err() << "pack: stopped after " << pack.done() << " of " << total << " reports" << Qt::endl;
                return ExitInterrupted;
            }
            const PackRegion region = pack.regions().at(pack.done());
            if (const Pack::Step step = pack.next(); step.kind != Pack::Written)
                return fail(step, QStringLiteral("%1/%2 %3 %4: ")
                                      .arg(QString::number(pack.done() + 1), QString::number(total),
                                           region.code, region.name));
            err() << prefix << pack.done() << '/' << total << ' ' << region.name << Qt::endl;
        }
        if (const Pack::Step step = pack.finish(); step.kind != Pack::Written)
            return fail(step, QString());
        written.append({QFileInfo(pack.combinedPath()).fileName(), pack.files()});
    }

    // The summary lists exactly the files the packs wrote, each with its region.
    for (const auto& [combined, files] : std::as_const(written)) {
        for (const QString& path : files) {
            const QString name = QFileInfo(path).fileName();
            auto it = std::find_if(index.regions.begin(), index.regions.end(), [&](const PackIndexRegion& r) {
                return packFileName(r.code, r.name, period, QFileInfo(name).suffix()) == name;
            });
            if (name != combined && it != index.regions.end())
                it->files << name;
            else
                index.combined << name;
        }
    }
    for (PackIndexRegion& r : index.regions)
        if (figures.contains(r.code))
            r.figures = figures.value(r.code);
    if (QString error; !writePackIndex(index, folder, &error)) {
        err() << "pack: " << error << Qt::endl;
        return ExitOutput;
    }
    err() << "pack: " << monthCaption(period) << ": " << index.files().size() << " files and the summary "
          << kPackIndexHtml << " in " << folder << Qt::endl;
    return ExitDone;
}

} // namespace

int runPack(const QStringList& args)
{
    ReportSession s;
    s.command = QStringLiteral("pack");
    s.parser.setApplicationDescription(
        QStringLiteral("Writes the report 项目进度及借款质量表 of every region of a level under a region, "
                       "and the pack's summary index.html."));
    addReportOptions(s.parser);
    s.parser.addOption({QStringLiteral("level"),
                        QStringLiteral("village, town, county or city: the regions with codes of 12, 9, "
                                       "6 or 4 characters under --region."),
                        QStringLiteral("LEVEL")});
    s.parser.addOption({QStringLiteral("out"),
                        QStringLiteral("Output folder (default the current folder; with --config the "
                                       "folder the month's folder is made in)."),
                        QStringLiteral("DIR")});
    s.parser.addOption({QStringLiteral("headline"),
                        QStringLiteral("Indicator code whose figures the summary shows per region (default: "
                                       "the scheme's first shown indicator)."),
                        QStringLiteral("CODE")});
    s.parser.addOption({QStringLiteral("config"),
                        QStringLiteral("A pack configuration (/etc/allstats/packs.d/NAME.conf): its keys "
                                       "stand for the options not given, the month is the previous one."),
                        QStringLiteral("FILE")});

    QStringList merged;
    std::optional<PackConfig> config;
    if (const int code = mergePackConfig(s, args, &merged, &config); code != ExitDone)
        return code;
    if (const int code = parseReportOptions(s, merged); code != ExitDone)
        return code < 0 ? ExitDone : code;
    const int code = makePack(s, config ? &*config : nullptr);
    // The journal of a scheduled pack gets the outcome in one line.
    if (config && code != ExitDone)
        err() << "pack: " << config->path << ": the pack of "
              << monthCaption(reportPeriod(s.year, QString::number(s.month))) << " was not made (exit status "
              << code << ")" << Qt::endl;
    return code;
}
