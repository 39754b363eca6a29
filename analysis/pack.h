// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"
#include "report/statsrun.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class GridBuffer;
class Sqlca;

// One region of a pack: its code and name as s_qybm holds them (trimmed).
struct PackRegion
{
    QString code;
    QString name;
};

// The code length of a level: village 12, town 9, county 6, city 4; 0 for any other word.
int packLevelLength(const QString& level);
// The level's word in the messages: 村级, 乡镇级, 县级, 市级.
QString packLevelCaption(int codeLength);

// The regions of s_qybm whose code has exactly `codeLength` characters and
// starts with `region`, by code. Nullopt on a database error (left in sqlca).
std::optional<QList<PackRegion>> packRegions(Sqlca& sqlca, const QString& region, int codeLength);

// "<code>-<name>-<YYYYMM>.<suffix>" with every character a file system refuses
// (/ \ : * ? " < > |, control characters) as "_", no trailing dots or blanks,
// and the name shortened to keep the file name within 200 bytes.
QString packFileName(const QString& code, const QString& name, const QString& period, const QString& suffix);

// Writes one file of the pack whole or not at all, as the pack writes its JSON
// and CSV reports (the summary's index files go the same way).
bool writePackFile(const QString& path, const QByteArray& bytes, QString* error);

// What a pack is asked for.
struct PackRequest
{
    QString scheme;
    QString year;
    QString month;
    QString region;     // the region the pack is made under
    QString regionName; // its name
    int codeLength = 12;
    QString format = QStringLiteral("json"); // json, csv, xlsx or pdf
    QString folder;
    bool landscape = false;
    // Called with each report the run has made, before its files are written
    // (the pack's summary reads its figures here).
    std::function<void(const PackRegion&, const GridBuffer&)> made;
};

// The month-end pack: one report per region of a level under a region, each
// made by the statistics run exactly as a single report is, and written to the
// folder as a file of its own; a spreadsheet pack adds one workbook of every
// region (…-全部.xlsx, a first sheet setting the regions' 累计数 side by side),
// a PDF pack one document of every report (…-全部.pdf). One connection serves
// the whole pack; the files are written by background threads while the next
// report is made. Every file appears whole or not at all, under a partial name
// of its own while it is written, so two packs into one folder both finish.
class Pack final
{
public:
    enum StepKind
    {
        Written,
        Refused,       // the run refused (no scheme, say): message says why
        Failed,        // database or hook error
        OutputError,   // a file could not be written: message names each, and how many were written whole
        TargetRefused, // a file would replace the database or one of its journal files
    };
    struct Step
    {
        StepKind kind = Written;
        QString message;
    };

    Pack(Host& host, PackRequest request);
    ~Pack();
    Pack(const Pack&) = delete;
    Pack& operator=(const Pack&) = delete;

    // Reads the regions of the level. Refused with a message when there are
    // none, Failed on a database error.
    Step prepare();
    const QList<PackRegion>& regions() const { return m_regions; }
    qsizetype done() const { return m_done; }
    bool atEnd() const { return m_done >= m_regions.size(); }

    // Makes the next report and hands its files to the writers.
    Step next();
    // Waits for the writers and finishes the combined file; the files written.
    Step finish();
    // Stops after the reports made so far: their files are completed, the
    // combined file is dropped. Safe to call at any time, also twice.
    void stop();

    // The files the pack has finished, in the order of the regions; after
    // finish() the combined file is last.
    QStringList files() const;
    // For a pack that is given up while a report is being made: waits a little
    // for the files of the reports made so far, drops the unfinished combined
    // file and says how many reports were written whole, and where. Safe to
    // call from another thread once prepare() has succeeded.
    QString writtenSoFar();
    // The combined file's path ("" for json and csv).
    QString combinedPath() const;
    // Every file the pack writes, in its folder, once prepare() has read the
    // regions: one per region, then the combined file.
    QStringList plannedFiles() const;

private:
    struct Writers;
    QString filePath(const PackRegion& region) const;
    // Stops the pack and says which files could not be written, and why.
    Step outputFailure();
    Host& m_host;
    PackRequest m_request;
    QString m_period;
    QList<PackRegion> m_regions;
    qsizetype m_done = 0;
    std::unique_ptr<Writers> m_writers;
};
