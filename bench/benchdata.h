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
    int provinces = 1; // more than one: the national data set

    int villages() const { return provinces * cities * countiesPerCity * townsPerCounty * villagesPerTown; }
    std::int64_t figureRows() const;
};

// tiny (tests), small, medium, full (5,000 villages x 80 indicators x 24 months);
// and national (600,000 villages in 30 provinces x 80 indicators x 2 months,
// PostgreSQL only, measured by its own command).
std::optional<Size> sizeByName(const QString& name);
QStringList sizeNames();
inline bool isNational(const Size& size)
{
    return size.provinces > 1;
}

constexpr int IndicatorCount = 80;
// The province of the provincial sizes; the first of the national ones.
const QString& provinceCode();
QStringList provinceCodes(const Size& size);
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
// which a monthly refresh writes them; with `period` (an index of periods())
// those of that period only.
void forEachFigure(const Size& size, const std::function<void(const Figure&)>& visit, int period = -1);

// "1234.56" from hundredths.
QString centsText(std::int64_t cents);

// s_qybm (unless `regions` is false), s_zbbm and s_zbfa through bound
// statements, in one transaction.
Status fillCatalogue(Sqlca& sqlca, const Size& size, bool regions = true);
// The bulk loads of H_stat. The table must exist and be empty.
// SQLite: the file is written directly with one prepared statement, journal
// and syncing off for the load only.
Status loadSqliteFigures(const QString& path, const Size& size);
// PostgreSQL: COPY FROM STDIN through psql; with `period` (an index of
// periods()) that period's rows only.
Status loadPostgresFigures(const QString& url, const Size& size, int period = -1);
// PostgreSQL: s_qybm through COPY (the national size's 660,000 regions).
Status loadPostgresRegions(const QString& url, const Size& size);

// Catalogue, figures and planner statistics into a database whose tables
// exist and are empty (DB as Sqlca::connect takes it).
Status load(const QString& db, const Size& size);

} // namespace benchdata
