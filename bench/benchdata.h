// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class Sqlca;

// The province the statistics-run benchmark works on: regions nested by code
// prefix (province 2 characters, city 4, county 6, town 9, village 12), the
// indicator catalogue with every aggregation kind, two kind-1 schemes and the
// monthly figures of every village. Everything is derived from the size alone,
// so the same size gives the same rows on every backend and every machine.
namespace benchdata {

// Raised whenever the rows produced for a size change, so cached data sets
// built by an older generator are not reused.
constexpr int GeneratorVersion = 2;

struct Size
{
    QString name;
    int cities = 1;
    int countiesPerCity = 1;
    int townsPerCounty = 1;
    int villagesPerTown = 1;
    int months = 1;

    int villages() const { return cities * countiesPerCity * townsPerCounty * villagesPerTown; }
    std::int64_t figureRows() const;
};

// tiny (tests), small, medium, full (5,000 villages x 80 indicators x 24 months).
std::optional<Size> sizeByName(const QString& name);
QStringList sizeNames();

constexpr int IndicatorCount = 80;
const QString& provinceCode();
// Name of the scheme that lists every indicator (kind 1, code 1).
QString fullSchemeName();

// Periods, oldest first; the benchmark reports on the last one.
QStringList periods(const Size& size);
QString lastPeriod(const Size& size);

struct Indicator
{
    QString code; // 0001 ...
    QString type; // zblx
    QString name; // zbmc
    int flag1 = 1;
    int flag2 = 0;
};
QList<Indicator> indicators();

struct Region
{
    QString code;
    QString name;
};
// Every region from the province down to the villages, in code order.
QList<Region> regions(const Size& size);

// The four regions the benchmark reports on: the first village, its town,
// its county and the whole province.
struct BenchRegion
{
    QString level; // village, town, county, province
    QString code;
    QString name;
};
QList<BenchRegion> benchRegions(const Size& size);

// One H_stat row; figures in hundredths.
struct Figure
{
    const QString* unit;
    const QString* period;
    const QString* indicator;
    std::int64_t qichu;
    std::int64_t fasheng;
    std::int64_t leiji;
};
// Visits every H_stat row in (period, unit, indicator) order, the order in
// which a monthly refresh writes them.
void forEachFigure(const Size& size, const std::function<void(const Figure&)>& visit);

// "1234.56" from hundredths.
QString centsText(std::int64_t cents);

// s_qybm, s_zbbm and s_zbfa through bound statements, in one transaction.
Status fillCatalogue(Sqlca& sqlca, const Size& size);
// The bulk loads of H_stat. The table must exist and be empty.
// SQLite: the file is written directly with one prepared statement, journal
// and syncing off for the load only.
Status loadSqliteFigures(const QString& path, const Size& size);
// PostgreSQL: COPY FROM STDIN through psql.
Status loadPostgresFigures(const QString& url, const Size& size);

// Catalogue, figures and planner statistics into a database whose tables
// exist and are empty (DB as Sqlca::connect takes it).
Status load(const QString& db, const Size& size);

} // namespace benchdata
