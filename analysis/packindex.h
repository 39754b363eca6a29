// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/pack.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class GridBuffer;
class Sqlca;

// A pack's summary: index.html and index.json in the pack's folder, so whoever
// opens the folder sees what is there: the scheme, the month, the region,
// every file with its region and the figures of one headline indicator per
// region, as the reports show them. The page needs nothing but itself: no
// script, no outside resource, its styles inline.

// The indicator whose figures the summary shows.
struct PackHeadline
{
    QString code;
    QString type; // the scheme's type label (类型)
    QString name; // the scheme's indicator name (项目)
};

struct PackHeadlineLookup
{
    std::optional<PackHeadline> headline; // none when the scheme shows no indicator
    bool failed = false;                  // a database error: `message` is its text
    QString message;                      // why it was refused or failed
};

// `code` when given (it must be one the scheme shows, else refused), otherwise
// the first indicator the scheme shows, in the report's order.
PackHeadlineLookup packHeadline(Sqlca& sqlca, const QString& scheme, const QString& code);

// The headline's 期初数, 发生数 and 累计数 exactly as the report shows them
// (blank where the report leaves a zero blank); nullopt when the report has no
// row of it. The row is found by type and name, as the report lists it.
std::optional<QStringList> headlineFigures(const GridBuffer& grid, const PackHeadline& headline);

struct PackIndexRegion
{
    QString code;
    QString name;
    std::optional<QStringList> figures; // 期初数, 发生数, 累计数
    QStringList files;                  // file names in the folder, one per format
};

struct PackIndex
{
    QString scheme;
    QString period; // YYYYMM
    QString region;
    QString regionName;
    int codeLength = 12; // the level
    std::optional<PackHeadline> headline;
    QList<PackIndexRegion> regions;
    QStringList combined; // the …-全部 files
    QDateTime made;

    // Every file the index names: the regions' in order, then the combined ones.
    QStringList files() const;
};

inline const QString kPackIndexHtml = QStringLiteral("index.html");
// Written last: a folder that holds it holds the whole pack.
inline const QString kPackIndexJson = QStringLiteral("index.json");

QByteArray packIndexHtml(const PackIndex& index);
QByteArray packIndexJson(const PackIndex& index);

// index.html, then index.json, into the folder, each whole or not at all.
bool writePackIndex(const PackIndex& index, const QString& folder, QString* error);
