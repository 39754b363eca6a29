// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/pack.h"

#include "analysis/trend.h"
#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"
#include "foundation/safefile.h"
#include "foundation/sqlca.h"
#include "host/batchrun.h"
#include "host/xlsxexport.h"
#include "report/d_xmjdzl.h"
#include "report/output.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPdfWriter>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {

constexpr int kMaxFileNameBytes = 200;

const QString kCombined = QStringLiteral("全部");

// The combined spreadsheet's first sheet: the 累计数 of every region, one
// column per region, indicators down. Rows are keyed by the indicator's type
// and name, so a region that lacks an indicator leaves its cell blank.
class SideBySide final
{
public:
    void add(const PackRegion& region, const GridBuffer& grid)
    {
        const long n = grid.RowCount();
        QHash<QString, XlsxCell> column;
        QString type;
        qsizetype at = 0; // where a key new to the table goes: after this region's previous row
        for (long row = 1; row <= n; ++row) {
            const QString label = grid.displayText(row, QStringLiteral("s_zbfa_zblx")).trimmed();
            if (!label.isEmpty())
                type = label;
            const QString name = grid.displayText(row, QStringLiteral("s_zbfa_zbmc"));
            const QString key = type + QChar(0x1F) + name;
            const qsizetype found = m_keys.indexOf(key);
            if (found < 0) {
                m_keys.insert(at, key);
                m_labels.insert(at, {type, name});
                at = at + 1;
            } else {
                at = found + 1;
            }
            XlsxCell cell;
            cell.numeric = true;
            cell.text = grid.displayText(row, QStringLiteral("leiji"));
            cell.mask = grid.maskFor(row, QStringLiteral("leiji"));
            const auto value = grid.GetItemDecimal(row, QStringLiteral("leiji"));
            if (value && !cell.text.trimmed().isEmpty())
                cell.number = value->toDouble();
            column.insert(key, cell);
        }
        m_regions << region;
        m_columns << column;
    }

    XlsxTable table(const QString& title, const QString& subtitle) const
    {
        XlsxTable t;
        t.title = title;
        t.subtitle = subtitle;
        t.headers << QStringLiteral("类型") << QStringLiteral("项目");
        for (const PackRegion& r : m_regions)
            t.headers << r.code + u'\n' + r.name;
        t.frozenColumns = 2;
        t.landscape = true;
        QString lastType;
        for (qsizetype i = 0; i < m_keys.size(); ++i) {
            QList<XlsxCell> cells;
            // The type only on the first row of a run, as the report shows it.
            const QString type = m_labels[i].first;
            cells << XlsxCell{false, type == lastType ? QString() : type, std::nullopt, QString()};
            lastType = type;
            cells << XlsxCell{false, m_labels[i].second, std::nullopt, QString()};
            for (const auto& column : m_columns) {
                auto it = column.constFind(m_keys[i]);
                cells << (it == column.constEnd() ? XlsxCell{true, QString(), std::nullopt, QString()} : *it);
            }
            t.rows << cells;
        }
        return t;
    }

private:
    QStringList m_keys;
    QList<QPair<QString, QString>> m_labels; // type, name
    QList<PackRegion> m_regions;
    QList<QHash<QString, XlsxCell>> m_columns;
};

} // namespace

int packLevelLength(const QString& level)
{
    const QString l = level.trimmed().toLower();
    if (l == u"village")
        return 12;
    if (l == u"town")
        return 9;
    if (l == u"county")
        return 6;
    if (l == u"city")
        return 4;
    return 0;
}

QString packLevelCaption(int codeLength)
{
    switch (codeLength) {
    case 12:
        return QStringLiteral("村级");
    case 9:
        return QStringLiteral("乡镇级");
    case 6:
        return QStringLiteral("县级");
    case 4:
        return QStringLiteral("市级");
    default:
        return QStringLiteral("%1位代码的").arg(codeLength);
    }
}

std::optional<QList<PackRegion>> packRegions(Sqlca& sqlca, const QString& region, int codeLength)
{
    const QString r = region.trimmed();
    const auto rows =
        sqlca.selectAll(QStringLiteral("SELECT trim(qybm), trim(qymc) FROM s_qybm "
                                       "WHERE length(trim(qybm)) = ? AND substr(trim(qybm), 1, ?) = ? "
                                       "ORDER BY trim(qybm)"),
                        {codeLength, int(r.size()), r});
    if (!rows)
        return std::nullopt;
    QList<PackRegion> out;
    out.reserve(rows->size());
    QString previous;
    for (const QVariantList& row : *rows) {
        const QString code = row.value(0).toString();
        // A code listed twice makes one report.
        if (code == previous)
            continue;
        previous = code;
        out.append({code, row.value(1).toString()});
    }
    return out;
}

bool writePackFile(const QString& path, const QByteArray& bytes, QString* error)
{
    return writeFileWhole(path, bytes, error);
}

QString packFileName(const QString& code, const QString& name, const QString& period, const QString& suffix)
{
    auto safe = [](const QString& text) {
        QString s;
        s.reserve(text.size());
        for (const QChar c : text) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c))
                s += u'_';
            else
                s += c;
        }
        return s.trimmed();
    };
    const QString tail = u'-' + safe(period) + u'.' + suffix;
    QString head = safe(code);
    QString n = safe(name);
    // Within the byte limit of a file name, whole characters only.
    while (!n.isEmpty() && (head + u'-' + n + tail).toUtf8().size() > kMaxFileNameBytes)
        n.chop(n.back().isLowSurrogate() && n.size() > 1 ? 2 : 1);
    while (n.endsWith(u'.') || n.endsWith(u' '))
        n.chop(1);
    if (!n.isEmpty())
        head += u'-' + n;
    return head + tail;
}

// The writers: per-region files on a pool of threads, the combined file on one
// thread of its own that takes the reports in their order. A grid handed over
// is only read from then on.
struct Pack::Writers
{
    QThreadPool files;
    QThreadPool book;
    std::mutex mutex;
    std::condition_variable changed;
    int pending = 0;
    QString error;
    QMap<qsizetype, QString> written;
    QMap<qsizetype, QString> failed; // the files that could not be written, and why
    // The SQLite file the pack reads (empty for a server): no file of the pack replaces it.
    QString database;

    // The combined file (touched on the book thread only).
    QString combinedPath;
    // What the combined file says about itself: the report's title, the pack's
    // region and the period (filled in from the first report).
    QString combinedRegion;
    QString combinedPeriod;
    QString combinedLevel;
    std::optional<DocumentInfo> combinedInfo;
    std::optional<PdfStamp> stamp;
    int binderPages = 0;
    std::unique_ptr<XlsxWorkbook> xlsx;
    SideBySide side;
    std::unique_ptr<SafeFile> pdfFile;
    std::unique_ptr<QPdfWriter> pdf;
    std::unique_ptr<QPainter> painter;
    int pdfPages = 0;
    bool combinedDone = false;

    Writers()
    {
        const int cores = std::max(1, QThread::idealThreadCount());
        files.setMaxThreadCount(cores);
        files.setExpiryTimeout(-1);
        book.setMaxThreadCount(1);
        book.setExpiryTimeout(-1);
    }
    ~Writers()
    {
        files.waitForDone();
        book.waitForDone();
    }

    // Runs the job for the file `index` (the combined file's is the number of
    // regions); an error it returns is kept for that file.
    void submit(QThreadPool& pool, qsizetype index, std::function<QString()> job)
    {
        {
            std::lock_guard lock(mutex);
            ++pending;
        }
        pool.start([this, index, job = std::move(job)] {
            const QString e = job();
            std::lock_guard lock(mutex);
            if (!e.isEmpty()) {
                if (error.isEmpty())
                    error = e;
                if (!failed.contains(index))
                    failed.insert(index, e);
            }
            --pending;
            changed.notify_all();
        });
    }
    void waitBelow(int n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return pending < n; });
    }
    bool waitBelowFor(int n, std::chrono::milliseconds most)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, most, [&] { return pending < n; });
    }
    QString firstError()
    {
        std::lock_guard lock(mutex);
        return error;
    }
    void noteWritten(qsizetype index, const QString& path)
    {
        std::lock_guard lock(mutex);
        written.insert(index, path);
    }
    // Why the file may not be written: it would replace the database or one of its journal files.
    QString refusal(const QString& path) const
    {
        const QString file = database.isEmpty() ? QString() : batch::databaseFileAt(path, database);
        return file.isEmpty()
                   ? QString()
                   : QStringLiteral("%1 leads to the database file %2; the pack never replaces it: "
                                    "remove the link or choose another folder")
                         .arg(path, file);
    }

    // Book thread: the combined file's title names the report, the pack's
    // region and the period; subject, author and program as a single report's.
    void noteInfo(const GridBuffer& grid)
    {
        if (combinedInfo)
            return;
        DocumentInfo info = documentInfoFor(grid);
        info.title = QStringList{info.subject, combinedRegion, combinedPeriod}.join(u' ') +
                     QStringLiteral(" 全部%1报表").arg(combinedLevel);
        combinedInfo = info;
    }

    // Book thread: one report into the combined PDF, starting on a new page.
    // Each page's foot names the region of its report beside the report's own
    // page number, and the page's number in the binder.
    QString addToPdf(const GridBuffer& grid, const PackRegion& region)
    {
        const QPageLayout layout = GridPrinter::pageLayoutFor(grid);
        if (!pdf) {
            if (const QString refused = refusal(combinedPath); !refused.isEmpty())
                return refused;
            pdfFile = std::make_unique<SafeFile>(combinedPath);
            if (!pdfFile->open(QIODevice::WriteOnly))
                return pdfFile->error();
            pdf = std::make_unique<QPdfWriter>(pdfFile.get());
            pdf->setResolution(600);
            noteInfo(grid);
            stamp.emplace(*combinedInfo);
            stamp->prepare(*pdf);
            pdf->setPageLayout(layout);
            painter = std::make_unique<QPainter>();
            if (!painter->begin(pdf.get()))
                return QStringLiteral("cannot write %1: the file cannot be opened").arg(combinedPath);
            painter->scale(pdf->logicalDpiX() / 72.0, pdf->logicalDpiY() / 72.0);
        }
        if (!painter->isActive())
            return !pdfFile->error().isEmpty()
                       ? pdfFile->error()
                       : QStringLiteral("cannot write %1: the PDF cannot be drawn").arg(combinedPath);
        GridPrinter printer(grid);
        const int first = binderPages;
        const QString name = region.code + u' ' + region.name;
        printer.setFooter([name, first](int page, int pages) {
            return QStringLiteral("%1　第 %2 页 / 共 %3 页　（合订本第 %4 页）")
                .arg(name)
                .arg(page)
                .arg(pages)
                .arg(first + page);
        });
        const int pages = printer.pageCount(layout);
        binderPages += pages;
        for (int page = 1; page <= pages; ++page) {
            if (pdfPages > 0) {
                pdf->setPageLayout(layout);
                if (!pdf->newPage())
                    return QStringLiteral("cannot write %1: cannot start a page").arg(combinedPath);
            }
            const QRectF content(QPointF(0, 0), layout.paintRectPoints().size());
            printer.paintPage(*painter, page, content);
            ++pdfPages;
            // A write that failed stops the pack now, not at the end.
            if (!pdfFile->error().isEmpty())
                return pdfFile->error();
        }
        return {};
    }

    // Book thread: ends the combined file; `keep` false drops it.
    QString closeCombined(bool keep, const QString& title, const QString& subtitle)
    {
        combinedDone = true;
        if (xlsx) {
            if (!keep) {
                xlsx.reset(); // an uncommitted workbook leaves nothing behind
                return {};
            }
            if (const QString refused = refusal(combinedPath); !refused.isEmpty()) {
                xlsx.reset();
                return refused;
            }
            if (const Status s = xlsx->writeTable(0, side.table(title, subtitle)); !s)
                return s.error;
            if (combinedInfo)
                xlsx->setInfo(*combinedInfo);
            const Status s = xlsx->commit();
            xlsx.reset();
            return s ? QString() : s.error;
        }
        if (pdf) {
            const bool ended = painter->isActive() ? painter->end() : false;
            painter.reset();
            pdf.reset();
            std::unique_ptr<SafeFile> file = std::move(pdfFile);
            if (!keep)
                return {}; // the partial file goes with the SafeFile
            if (!file->error().isEmpty())
                return file->error();
            if (!ended || file->size() <= 0)
                return QStringLiteral("cannot write %1: the PDF cannot be finished").arg(combinedPath);
            // The document information in full, appended to the finished pages.
            QFile written(file->partialPath());
            if (!written.open(QIODevice::ReadOnly) || !written.seek(std::max<qint64>(0, file->size() - 4096)))
                return QStringLiteral("cannot write %1: the PDF cannot be read back").arg(combinedPath);
            QString why;
            const QByteArray update = stamp->update(written.readAll(), file->size(), &why);
            if (update.isEmpty())
                return QStringLiteral("cannot write %1: %2").arg(combinedPath, why);
            if (file->write(update) != update.size() || !file->error().isEmpty())
                return file->error().isEmpty() ? QStringLiteral("cannot write %1").arg(combinedPath)
                                               : file->error();
            if (!file->commit())
                return file->error();
        }
        return {};
    }
};

Pack::Pack(Host& host, PackRequest request)
    : m_host(host), m_request(std::move(request)), m_writers(std::make_unique<Writers>())
{
    m_period = reportPeriod(m_request.year, m_request.month);
    m_request.format = m_request.format.trimmed().toLower();
    if (m_request.format == u"pdf" || m_request.format == u"xlsx")
        m_writers->combinedPath = QDir(m_request.folder)
                                      .filePath(packFileName(m_request.region.trimmed(), m_request.regionName,
                                                             m_period + u'-' + kCombined, m_request.format));
    m_writers->database = m_host.sqlca().sqliteFile();
    m_writers->combinedRegion = m_request.regionName.trimmed().isEmpty() ? m_request.region.trimmed()
                                                                         : m_request.regionName.trimmed();
    m_writers->combinedPeriod = trendCaption(m_period);
    m_writers->combinedLevel = packLevelCaption(m_request.codeLength);
}

QStringList Pack::plannedFiles() const
{
    QStringList paths;
    for (const PackRegion& r : m_regions)
        paths << filePath(r);
    if (!m_writers->combinedPath.isEmpty())
        paths << m_writers->combinedPath;
    return paths;
}

Pack::~Pack()
{
    stop();
}

QString Pack::combinedPath() const
{
    return m_writers->combinedPath;
}

QString Pack::filePath(const PackRegion& region) const
{
    return QDir(m_request.folder)
        .filePath(packFileName(region.code, region.name, m_period, m_request.format));
}

Pack::Step Pack::prepare()
{
    const QString region = m_request.region.trimmed();
    if (region.isEmpty())
        return {Refused, QStringLiteral("请选择查询区域")};
    if (!QDir(m_request.folder).exists())
        return {OutputError, QStringLiteral("the folder %1 does not exist").arg(m_request.folder)};
    const auto regions = packRegions(m_host.sqlca(), region, m_request.codeLength);
    if (!regions)
        return {Failed, m_host.sqlca().SQLErrText};
    m_regions = *regions;
    m_done = 0;
    if (m_regions.isEmpty())
        return {Refused, QStringLiteral("%1 %2 下没有%3区域（%4位代码）")
                             .arg(region, m_request.regionName, packLevelCaption(m_request.codeLength))
                             .arg(m_request.codeLength)};
    // No file of the pack may replace the database, not even through a link
    // in the folder: refused before anything is made.
    const QStringList paths = plannedFiles();
    for (const QString& path : paths) {
        if (const QString refused = m_writers->refusal(path); !refused.isEmpty())
            return {TargetRefused, refused};
    }
    if (!m_writers->combinedPath.isEmpty() && m_request.format == u"xlsx") {
        m_writers->xlsx = std::make_unique<XlsxWorkbook>(m_writers->combinedPath);
        if (!m_writers->xlsx->isOpen())
            return {OutputError, m_writers->xlsx->error()};
        // The side-by-side sheet comes first and is filled at the end.
        if (m_writers->xlsx->newSheet(QStringLiteral("累计数")) < 0)
            return {OutputError, m_writers->xlsx->error()};
    }
    return {};
}

Pack::Step Pack::next()
{
    if (atEnd())
        return {};
    if (!m_writers->firstError().isEmpty())
        return outputFailure();
    static const GridLayout layout = d_xmjdzl();
    const PackRegion region = m_regions.at(m_done);
    auto grid = std::make_shared<GridBuffer>(layout);
    attachReportTidying(*grid);
    if (m_request.landscape)
        grid->setOrientation(1);

    ReportRequest request;
    request.region = region.code;
    request.regionName = region.name;
    request.year = m_request.year;
    request.month = m_request.month;
    request.scheme = m_request.scheme;
    const RunOutcome outcome = runStatistics(m_host, *grid, request);
    if (outcome.kind == RunOutcome::Refused)
        return {Refused, outcome.message};
    if (outcome.kind == RunOutcome::Failed)
        return {Failed, outcome.message};
    if (m_request.made)
        m_request.made(region, *grid);
    // From here on the grid is only read, by the writers' threads.
    grid->moveToThread(nullptr);

    const qsizetype index = m_done++;
    const QString format = m_request.format;
    const QString path = filePath(region);
    Writers* w = m_writers.get();
    std::shared_ptr<const GridBuffer> shared = grid;
    w->submit(w->files, index, [w, shared, path, format, index]() -> QString {
        // Checked again as the file is written: a link may have appeared since.
        if (const QString refused = w->refusal(path); !refused.isEmpty())
            return refused;
        QString error;
        bool ok = false;
        if (format == u"json") {
            ok = writeFileWhole(path, reportJson(*shared), &error);
        } else if (format == u"csv") {
            ok = writeFileWhole(path, reportCsv(*shared), &error);
        } else if (format == u"xlsx") {
            const Status s = writeXlsx(*shared, path);
            ok = s.ok;
            error = s.error;
        } else {
            ok = writePdf(*shared, path, &error);
        }
        if (ok)
            w->noteWritten(index, path);
        return ok ? QString() : error;
    });
    const qsizetype combined = m_regions.size();
    if (format == u"xlsx" && w->xlsx) {
        w->submit(w->book, combined, [w, shared, region]() -> QString {
            if (!w->xlsx || w->combinedDone)
                return {};
            w->side.add(region, *shared);
            w->noteInfo(*shared);
            const int sheet = w->xlsx->newSheet(region.code + u' ' + region.name);
            if (sheet < 0)
                return w->xlsx->error();
            const Status s = w->xlsx->writeGrid(sheet, *shared);
            return s ? QString() : s.error;
        });
    } else if (format == u"pdf") {
        w->submit(w->book, combined, [w, shared, region]() -> QString {
            return w->combinedDone ? QString() : w->addToPdf(*shared, region);
        });
    }
    // A few reports ahead of the writers at most, so memory stays flat.
    w->waitBelow(2 * std::max(1, QThread::idealThreadCount()) + 2);
    if (!w->firstError().isEmpty())
        return outputFailure();
    return {};
}

Pack::Step Pack::finish()
{
    Writers* w = m_writers.get();
    w->waitBelow(1);
    if (!w->firstError().isEmpty())
        return outputFailure();
    if (!w->combinedPath.isEmpty() && !w->combinedDone) {
        const QString title = QStringLiteral("项目进度及借款质量表 — 累计数");
        const QString subtitle = periodHeader(m_request.year, m_request.month) + QStringLiteral("    ") +
                                 unitHeader(m_request.region, m_request.regionName) +
                                 QStringLiteral("    方案：") + m_request.scheme;
        const qsizetype last = m_regions.size();
        w->submit(w->book, last, [w, title, subtitle, last] {
            const QString e = w->closeCombined(true, title, subtitle);
            if (e.isEmpty())
                w->noteWritten(last, w->combinedPath);
            return e;
        });
        w->waitBelow(1);
    }
    if (!w->firstError().isEmpty())
        return outputFailure();
    return {};
}

Pack::Step Pack::outputFailure()
{
    // The writers still under way finish (or fail) first, so every file is counted.
    stop();
    Writers* w = m_writers.get();
    std::lock_guard lock(w->mutex);
    QStringList lines = w->failed.values();
    const qsizetype combined = m_regions.size();
    const qsizetype total = combined + (w->combinedPath.isEmpty() ? 0 : 1);
    if (!w->combinedPath.isEmpty() && !w->failed.contains(combined) && !w->written.contains(combined))
        lines << QStringLiteral("not written: %1 (it needs every report)").arg(w->combinedPath);
    lines << QStringLiteral("%1 of %2 files written whole, %3 could not be written; %4 of %5 reports made")
                 .arg(w->written.size())
                 .arg(total)
                 .arg(w->failed.size())
                 .arg(m_done)
                 .arg(m_regions.size());
    return {OutputError, lines.join(u'\n')};
}

void Pack::stop()
{
    Writers* w = m_writers.get();
    w->waitBelow(1);
    if (!w->combinedDone && (w->xlsx || w->pdf)) {
        w->submit(w->book, m_regions.size(), [w] { return w->closeCombined(false, QString(), QString()); });
        w->waitBelow(1);
    }
    w->combinedDone = true;
}

QString Pack::writtenSoFar()
{
    Writers* w = m_writers.get();
    const bool idle = w->waitBelowFor(1, std::chrono::seconds(10));
    qsizetype whole = 0;
    {
        std::lock_guard lock(w->mutex);
        whole = w->written.size();
    }
    QString text = QStringLiteral("%1 of %2 reports were written whole in %3")
                       .arg(whole)
                       .arg(m_regions.size())
                       .arg(QDir(m_request.folder).absolutePath());
    if (!w->combinedPath.isEmpty()) {
        // The writers are done with it; left unfinished it would only mislead.
        if (idle && w->pdfFile)
            QFile::remove(w->pdfFile->partialPath());
        text += QStringLiteral("; %1 was not written").arg(QFileInfo(w->combinedPath).fileName());
    }
    return text;
}

QStringList Pack::files() const
{
    std::lock_guard lock(m_writers->mutex);
    return m_writers->written.values();
}
