// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/demo.h"

#include "foundation/host.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace demo {

namespace {

// A small deterministic generator: the demo database is the same on every
// machine and every backend, so screenshots and hand checks can be compared.
class Random final
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A whole number in [lo, hi].
    int between(int lo, int hi) { return lo + int(next() % std::uint64_t(hi - lo + 1)); }
    bool chance(double p) { return double(next() % 1000000) < p * 1000000.0; }

private:
    std::uint64_t m_state;
};

// ---------------------------------------------------------------- regions

struct Region
{
    QString code;
    QString name;
};

const QString kProvinceCode = QStringLiteral("45");
const QString kProvinceName = QStringLiteral("青禾省");

struct CountyPlan
{
    QString city;
    QString cityName;
    QString county;
    QString countyName;
    QStringList towns; // town names; codes follow in order
};

QList<CountyPlan> countyPlans()
{
    return {
        {QStringLiteral("4501"),
         QStringLiteral("石桥市"),
         QStringLiteral("450121"),
         QStringLiteral("云溪县"),
         {QStringLiteral("白沙镇"), QStringLiteral("清水乡"), QStringLiteral("枫林镇"),
          QStringLiteral("龙潭乡")}},
        {QStringLiteral("4501"),
         QStringLiteral("石桥市"),
         QStringLiteral("450122"),
         QStringLiteral("安平县"),
         {QStringLiteral("双河镇"), QStringLiteral("桂花乡"), QStringLiteral("马坪镇"),
          QStringLiteral("松岗乡")}},
        {QStringLiteral("4502"),
         QStringLiteral("梧山市"),
         QStringLiteral("450221"),
         QStringLiteral("禾丰县"),
         {QStringLiteral("新田镇"), QStringLiteral("杨柳乡"), QStringLiteral("青龙镇"),
          QStringLiteral("石门乡")}},
    };
}

// Village names from two syllables, unique across the province.
QStringList villageNames(Random& rnd, int count)
{
    const QString first =
        QStringLiteral("东西南北上下大小前后新老石柳杨李王张马黄白青桃杏梨枣松竹梅兰荷金银铜"
                       "高长平安福寿和顺丰乐红绿");
    const QString second = QStringLiteral("坪湾沟坡岭塘桥庄寨屯岗洼峪冲垌坝营堡溪河台口店园林山田湖圩塬");
    QStringList out;
    QSet<QString> seen;
    while (out.size() < count) {
        const QString name = QString(first.at(rnd.between(0, int(first.size()) - 1))) +
                             second.at(rnd.between(0, int(second.size()) - 1)) + QStringLiteral("村");
        if (seen.contains(name))
            continue;
        seen.insert(name);
        out << name;
    }
    return out;
}

// ---------------------------------------------------------------- catalogue

enum class Kind
{
    Stock,   // a balance: opening = last month's closing, arising = change, cumulative = closing
    Flow,    // an amount per month: opening = cumulative before, cumulative never falls
    Average, // per village average loan
    Maximum,
    Minimum,
    Ratio, // no per-unit figures: the uf_update_report hook derives them
};

struct Indicator
{
    const char* code;
    QString type;
    QString name;
    QString description;
    int flag1;
    int flag2;
    Kind kind;
};

QList<Indicator> catalogue()
{
    const QString scale = QStringLiteral("互助金规模");
    const QString members = QStringLiteral("入社农户");
    const QString issue = QStringLiteral("借款发放");
    const QString repay = QStringLiteral("还款");
    const QString balance = QStringLiteral("借款余额");
    const QString overdue = QStringLiteral("逾期");
    const QString ratio = QStringLiteral("比率");
    return {
        {"0101", scale, QStringLiteral("互助金总额"),
         QStringLiteral("财政扶持、农户入股与其他资金之和（元）"), 1, 0, Kind::Stock},
        {"0102", scale, QStringLiteral("财政扶持资金"), QStringLiteral("各级财政投入的扶持资金（元）"), 1, 0,
         Kind::Stock},
        {"0103", scale, QStringLiteral("农户入股资金"), QStringLiteral("入社农户缴纳的股金（元）"), 1, 0,
         Kind::Stock},
        {"0104", scale, QStringLiteral("其他资金"), QStringLiteral("社会捐赠及占用费留存（元）"), 1, 0,
         Kind::Stock},
        {"0201", members, QStringLiteral("入社农户数"), QStringLiteral("已入社的农户（户）"), 1, 0,
         Kind::Stock},
        {"0202", members, QStringLiteral("其中：贫困户数"), QStringLiteral("入社农户中的建档贫困户（户）"), 1,
         0, Kind::Stock},
        {"0203", members, QStringLiteral("新增入社农户"), QStringLiteral("本期新入社的农户（户）"), 1, 0,
         Kind::Flow},
        {"0301", issue, QStringLiteral("借款笔数"), QStringLiteral("发放的借款笔数（笔）"), 1, 0, Kind::Flow},
        {"0302", issue, QStringLiteral("借款金额"), QStringLiteral("发放的借款金额（元）"), 1, 0, Kind::Flow},
        {"0303", issue, QStringLiteral("借款农户数"), QStringLiteral("获得借款的农户（户次）"), 1, 0,
         Kind::Flow},
        {"0304", issue, QStringLiteral("平均单笔借款"), QStringLiteral("各村平均每笔借款金额（元）"), 2, 0,
         Kind::Average},
        {"0305", issue, QStringLiteral("单笔最大借款"), QStringLiteral("单笔借款的最大金额（元）"), 3, 0,
         Kind::Maximum},
        {"0306", issue, QStringLiteral("单笔最小借款"), QStringLiteral("单笔借款的最小金额（元）"), 4, 0,
         Kind::Minimum},
        {"0401", repay, QStringLiteral("应还款金额"), QStringLiteral("到期应收回的借款（元）"), 1, 0,
         Kind::Flow},
        {"0402", repay, QStringLiteral("实际还款金额"), QStringLiteral("实际收回的借款（元）"), 1, 0,
         Kind::Flow},
        {"0403", repay, QStringLiteral("收取占用费"), QStringLiteral("按借款余额收取的资金占用费（元）"), 1,
         0, Kind::Flow},
        {"0501", balance, QStringLiteral("借款余额"), QStringLiteral("尚未收回的借款本金（元）"), 1, 0,
         Kind::Stock},
        {"0502", balance, QStringLiteral("在借农户数"), QStringLiteral("有借款未还清的农户（户）"), 1, 0,
         Kind::Stock},
        {"0601", overdue, QStringLiteral("逾期借款余额"), QStringLiteral("超过约定期限未还的借款（元）"), 1,
         0, Kind::Stock},
        {"0602", overdue, QStringLiteral("逾期笔数"), QStringLiteral("逾期未还的借款笔数（笔）"), 1, 0,
         Kind::Stock},
        {"0603", overdue, QStringLiteral("逾期农户数"), QStringLiteral("有逾期借款的农户（户）"), 1, 0,
         Kind::Stock},
        {"0701", ratio, QStringLiteral("还款率"), QStringLiteral("实际还款金额 ÷ 应还款金额"), 0, 1,
         Kind::Ratio},
        {"0702", ratio, QStringLiteral("逾期率"), QStringLiteral("逾期借款余额 ÷ 借款余额"), 0, 1,
         Kind::Ratio},
        {"0703", ratio, QStringLiteral("资金使用率"), QStringLiteral("借款余额 ÷ 互助金总额"), 0, 1,
         Kind::Ratio},
        {"0704", ratio, QStringLiteral("贫困户入社比例"), QStringLiteral("贫困户数 ÷ 入社农户数"), 0, 1,
         Kind::Ratio},
        {"0705", ratio, QStringLiteral("借款农户覆盖率"), QStringLiteral("在借农户数 ÷ 入社农户数"), 0, 1,
         Kind::Ratio},
    };
}

// The indicators of the short scheme, in the catalogue's order.
const QStringList kShortScheme = {QStringLiteral("0101"), QStringLiteral("0201"), QStringLiteral("0301"),
                                  QStringLiteral("0302"), QStringLiteral("0402"), QStringLiteral("0501"),
                                  QStringLiteral("0601"), QStringLiteral("0701"), QStringLiteral("0702")};

// ---------------------------------------------------------------- figures

// Money in cents, counts as whole numbers; both written as exact decimal text.
QVariant cents(std::int64_t c)
{
    const std::int64_t a = c < 0 ? -c : c;
    return QStringLiteral("%1%2.%3")
        .arg(c < 0 ? QStringLiteral("-") : QString())
        .arg(a / 100)
        .arg(int(a % 100), 2, 10, QLatin1Char('0'));
}
QVariant count(std::int64_t n)
{
    return QString::number(n);
}

struct Loan
{
    std::int64_t amount; // cents
    int due;             // month index
    int household;
    bool overdue = false;
};

// One village's fund, simulated month by month.
class Village final
{
public:
    explicit Village(Random& rnd) : m_rnd(rnd)
    {
        m_fiscal = std::int64_t(rnd.between(8, 18)) * 10000 * 100;
        m_members = rnd.between(30, 90);
        m_poor = m_members * rnd.between(35, 60) / 100;
        m_shareUnit = std::int64_t(rnd.between(2, 10)) * 100 * 100;
        m_shares = m_members * m_shareUnit;
        m_activity = rnd.between(2, 6);
        // Each fund sets its own smallest and largest loan (in steps of 500 元).
        m_smallestLoan = rnd.between(2, 4);
        m_largestLoan = rnd.between(12, 40);
    }

    struct Month
    {
        // Stocks: closing values.
        std::int64_t fiscal, shares, other, members, poor, balance, borrowers, overdueAmount, overdueCount,
            overdueHouseholds;
        // Flows of the month and since the start.
        std::int64_t newMembers, loans, lent, households, due, repaid, fee;
        std::int64_t cumNewMembers, cumLoans, cumLent, cumHouseholds, cumDue, cumRepaid, cumFee;
        // Loan sizes: this month (0 = no loan) and since the start.
        std::int64_t monthMax, monthMin, allMax, allMin;
    };

    Month step(int month)
    {
        Month m{};
        // Members join now and then; a share each.
        const int joining = m_rnd.chance(0.45) ? m_rnd.between(1, 3) : 0;
        for (int i = 0; i < joining; ++i)
            if (m_rnd.chance(0.5))
                ++m_poor;
        m_members += joining;
        m_shares += joining * m_shareUnit;
        m_cumNewMembers += joining;
        // Occasional top-ups of the fiscal money and donations.
        if (m_rnd.chance(0.04))
            m_fiscal += std::int64_t(m_rnd.between(1, 3)) * 10000 * 100;
        if (m_rnd.chance(0.08))
            m_other += std::int64_t(m_rnd.between(50000, 500000));

        // Repayments of loans falling due, and recoveries of overdue loans.
        std::int64_t due = 0, repaid = 0;
        for (auto it = m_loans.begin(); it != m_loans.end();) {
            if (!it->overdue && it->due == month) {
                due += it->amount;
                if (m_rnd.chance(0.93)) {
                    repaid += it->amount;
                    it = m_loans.erase(it);
                    continue;
                }
                it->overdue = true;
            } else if (it->overdue && it->due < month && m_rnd.chance(0.25)) {
                due += it->amount;
                repaid += it->amount;
                it = m_loans.erase(it);
                continue;
            }
            ++it;
        }
        // The usage fee on the outstanding money stays in the fund.
        const std::int64_t fee = (balance() * 5 + 500) / 1000;
        m_other += fee;

        // New loans within what the fund still holds.
        std::int64_t room = m_fiscal + m_shares + m_other - balance();
        const int wanted = m_rnd.between(0, m_activity + 1);
        std::int64_t lent = 0, monthMax = 0, monthMin = 0;
        int loans = 0;
        QSet<int> households;
        for (int i = 0; i < wanted; ++i) {
            const std::int64_t amount =
                std::int64_t(m_rnd.between(m_smallestLoan, m_largestLoan)) * 500 * 100;
            if (amount > room)
                break;
            const int household = m_rnd.between(1, int(m_members));
            m_loans.push_back({amount, month + (m_rnd.chance(0.6) ? 12 : 6), household});
            room -= amount;
            lent += amount;
            ++loans;
            households.insert(household);
            monthMax = std::max(monthMax, amount);
            monthMin = monthMin == 0 ? amount : std::min(monthMin, amount);
        }
        m_cumLoans += loans;
        m_cumLent += lent;
        m_cumHouseholds += households.size();
        m_cumDue += due;
        m_cumRepaid += repaid;
        m_cumFee += fee;
        if (monthMax > 0) {
            m_allMax = std::max(m_allMax, monthMax);
            m_allMin = m_allMin == 0 ? monthMin : std::min(m_allMin, monthMin);
        }

        QSet<int> borrowers, overdueHouseholds;
        std::int64_t overdueAmount = 0, overdueCount = 0;
        for (const Loan& l : m_loans) {
            borrowers.insert(l.household);
            if (l.overdue) {
                overdueAmount += l.amount;
                ++overdueCount;
                overdueHouseholds.insert(l.household);
            }
        }
        m = {m_fiscal,
             m_shares,
             m_other,
             m_members,
             m_poor,
             balance(),
             borrowers.size(),
             overdueAmount,
             overdueCount,
             overdueHouseholds.size(),
             joining,
             loans,
             lent,
             households.size(),
             due,
             repaid,
             fee,
             m_cumNewMembers,
             m_cumLoans,
             m_cumLent,
             m_cumHouseholds,
             m_cumDue,
             m_cumRepaid,
             m_cumFee,
             monthMax,
             monthMin,
             m_allMax,
             m_allMin};
        return m;
    }

private:
    std::int64_t balance() const
    {
        std::int64_t b = 0;
        for (const Loan& l : m_loans)
            b += l.amount;
        return b;
    }

    Random& m_rnd;
    std::int64_t m_fiscal = 0, m_shares = 0, m_other = 0, m_shareUnit = 0;
    std::int64_t m_members = 0, m_poor = 0;
    int m_activity = 1;
    int m_smallestLoan = 4, m_largestLoan = 20;
    std::vector<Loan> m_loans;
    std::int64_t m_cumNewMembers = 0, m_cumLoans = 0, m_cumLent = 0, m_cumHouseholds = 0, m_cumDue = 0,
                 m_cumRepaid = 0, m_cumFee = 0, m_allMax = 0, m_allMin = 0;
};

// Opening, arising and cumulative figures of one indicator for one month.
struct Figures
{
    QVariant qichu, fasheng, leiji;
};

Figures figuresOf(const QString& code, const Village::Month& prev, const Village::Month& cur)
{
    auto stockMoney = [](std::int64_t before, std::int64_t after) {
        return Figures{cents(before), cents(after - before), cents(after)};
    };
    auto stockCount = [](std::int64_t before, std::int64_t after) {
        return Figures{count(before), count(after - before), count(after)};
    };
    auto flowMoney = [](std::int64_t month, std::int64_t cum) {
        return Figures{cents(cum - month), cents(month), cents(cum)};
    };
    auto flowCount = [](std::int64_t month, std::int64_t cum) {
        return Figures{count(cum - month), count(month), count(cum)};
    };
    auto loanSize = [](std::int64_t v) { return v == 0 ? QVariant() : cents(v); };
    auto average = [](std::int64_t amount, std::int64_t n) {
        return n == 0 ? QVariant() : cents((amount + n / 2) / n);
    };

    if (code == u"0101")
        return stockMoney(prev.fiscal + prev.shares + prev.other, cur.fiscal + cur.shares + cur.other);
    if (code == u"0102")
        return stockMoney(prev.fiscal, cur.fiscal);
    if (code == u"0103")
        return stockMoney(prev.shares, cur.shares);
    if (code == u"0104")
        return stockMoney(prev.other, cur.other);
    if (code == u"0201")
        return stockCount(prev.members, cur.members);
    if (code == u"0202")
        return stockCount(prev.poor, cur.poor);
    if (code == u"0203")
        return flowCount(cur.newMembers, cur.cumNewMembers);
    if (code == u"0301")
        return flowCount(cur.loans, cur.cumLoans);
    if (code == u"0302")
        return flowMoney(cur.lent, cur.cumLent);
    if (code == u"0303")
        return flowCount(cur.households, cur.cumHouseholds);
    if (code == u"0304")
        return {average(prev.cumLent, prev.cumLoans), average(cur.lent, cur.loans),
                average(cur.cumLent, cur.cumLoans)};
    if (code == u"0305")
        return {loanSize(prev.allMax), loanSize(cur.monthMax), loanSize(cur.allMax)};
    if (code == u"0306")
        return {loanSize(prev.allMin), loanSize(cur.monthMin), loanSize(cur.allMin)};
    if (code == u"0401")
        return flowMoney(cur.due, cur.cumDue);
    if (code == u"0402")
        return flowMoney(cur.repaid, cur.cumRepaid);
    if (code == u"0403")
        return flowMoney(cur.fee, cur.cumFee);
    if (code == u"0501")
        return stockMoney(prev.balance, cur.balance);
    if (code == u"0502")
        return stockCount(prev.borrowers, cur.borrowers);
    if (code == u"0601")
        return stockMoney(prev.overdueAmount, cur.overdueAmount);
    if (code == u"0602")
        return stockCount(prev.overdueCount, cur.overdueCount);
    if (code == u"0603")
        return stockCount(prev.overdueHouseholds, cur.overdueHouseholds);
    return {};
}

// ---------------------------------------------------------------- writing

// Inserts rows many at a time through one prepared multi-row statement, so the
// demo loads in seconds on a server too.
class BatchInsert final
{
public:
    BatchInsert(Sqlca& sqlca, QString table, QStringList columns, int rowsPerStatement = 100)
        : m_sqlca(sqlca), m_table(std::move(table)), m_columns(std::move(columns)),
          m_rowsPer(rowsPerStatement)
    {}

    bool add(const QVariantList& row)
    {
        Q_ASSERT(row.size() == m_columns.size());
        m_pending.append(row);
        if (m_pending.size() == m_rowsPer * m_columns.size())
            return flush();
        return true;
    }

    bool flush()
    {
        if (m_pending.isEmpty())
            return true;
        const int rows = int(m_pending.size() / m_columns.size());
        QSqlQuery* q = nullptr;
        QSqlQuery once(m_sqlca.database());
        if (rows == m_rowsPer) {
            if (!m_full) {
                m_full = std::make_unique<QSqlQuery>(m_sqlca.database());
                if (!m_full->prepare(statement(rows)))
                    return fail(*m_full);
            }
            q = m_full.get();
        } else {
            if (!once.prepare(statement(rows)))
                return fail(once);
            q = &once;
        }
        for (int i = 0; i < m_pending.size(); ++i)
            q->bindValue(i, m_pending[i]);
        if (!q->exec())
            return fail(*q);
        m_pending.clear();
        return true;
    }

private:
    QString statement(int rows) const
    {
        QStringList marks(m_columns.size(), QStringLiteral("?"));
        const QString one = u'(' + marks.join(u',') + u')';
        return QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
            .arg(m_table, m_columns.join(QStringLiteral(", ")), QStringList(rows, one).join(u','));
    }
    bool fail(const QSqlQuery& q)
    {
        m_sqlca.setError(QStringLiteral("%1: %2").arg(m_table, q.lastError().text()));
        return false;
    }

    Sqlca& m_sqlca;
    QString m_table;
    QStringList m_columns;
    int m_rowsPer;
    QVariantList m_pending;
    std::unique_ptr<QSqlQuery> m_full;
};

int monthIndex(const QString& period)
{
    return period.left(4).toInt() * 12 + period.mid(4, 2).toInt() - 1;
}
QString periodOf(int index)
{
    return QStringLiteral("%1%2")
        .arg(index / 12, 4, 10, QLatin1Char('0'))
        .arg(index % 12 + 1, 2, 10, QLatin1Char('0'));
}

constexpr int kMonthsOfFigures = 24;

} // namespace

bool isPopulated(Sqlca& sqlca)
{
    return sqlca.selectValue(QStringLiteral("SELECT qymc FROM s_qybm WHERE qybm = ?"), {kProvinceCode})
               .toString() == kProvinceName;
}

QString firstPeriod(const QString& lastPeriod)
{
    return periodOf(monthIndex(lastPeriod) - kMonthsOfFigures + 1);
}

bool populate(Sqlca& sqlca, const QString& lastPeriod, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!isValidPeriod(lastPeriod))
        return fail(QStringLiteral("the last period of the demo figures must be %1: %2")
                        .arg(periodRule(), lastPeriod));
    if (!isValidPeriod(firstPeriod(lastPeriod)))
        return fail(QStringLiteral("the %1 months of demo figures ending at %2 would begin in %3, before %4")
                        .arg(kMonthsOfFigures)
                        .arg(lastPeriod, firstPeriod(lastPeriod))
                        .arg(kFirstYear));
    const QStringList missing = schema::missingTables(sqlca);
    if (!missing.isEmpty())
        return fail(
            QStringLiteral("the database lacks the tables %1").arg(missing.join(QStringLiteral(", "))));
    // Two fillers at once: the second waits for the first and then finds its regions.
    TransactionGuard tx(sqlca, TransactionGuard::Writes::AtOnce);
    if (!tx.active() || !sqlca.executeImmediate(sqlca.dialect().schemaChangeLock()))
        return fail(sqlca.SQLErrText);
    auto dbFail = [&]() { return fail(sqlca.SQLErrText); };
    const QVariant regions = sqlca.selectValue(QStringLiteral("SELECT count(*) FROM s_qybm"));
    if (sqlca.SQLCode != 0)
        return dbFail();
    if (regions.toInt() > 0) {
        if (isPopulated(sqlca))
            return fail(QStringLiteral("the demo province %1 is already in the database").arg(kProvinceName));
        return fail(QStringLiteral("the database already holds regions; the demo data goes into an empty "
                                   "database only"));
    }

    Random rnd(20240601);

    // Regions: province, cities, counties, towns, villages.
    QList<Region> regionRows{{kProvinceCode, kProvinceName}};
    QStringList villages;
    const QList<CountyPlan> plans = countyPlans();
    int townCount = 0;
    for (const CountyPlan& p : plans)
        townCount += int(p.towns.size());
    const QStringList names = villageNames(rnd, townCount * 9);
    int nameIndex = 0;
    QSet<QString> cities;
    for (const CountyPlan& p : plans) {
        if (!cities.contains(p.city)) {
            cities.insert(p.city);
            regionRows.append({p.city, p.cityName});
        }
        regionRows.append({p.county, p.countyName});
        for (int t = 0; t < p.towns.size(); ++t) {
            const QString town = p.county + QStringLiteral("%1").arg(101 + t, 3, 10, QLatin1Char('0'));
            regionRows.append({town, p.towns[t]});
            const int villagesOfTown = 7 + (t + int(p.county.right(1).toInt())) % 3; // 7 to 9
            for (int v = 0; v < villagesOfTown; ++v) {
                const QString village = town + QStringLiteral("%1").arg(201 + v, 3, 10, QLatin1Char('0'));
                regionRows.append({village, names[nameIndex++]});
                villages << village;
            }
        }
    }
    {
        BatchInsert ins(sqlca, QStringLiteral("s_qybm"), {QStringLiteral("qybm"), QStringLiteral("qymc")});
        for (const Region& r : regionRows)
            if (!ins.add({r.code, r.name}))
                return dbFail();
        if (!ins.flush())
            return dbFail();
    }

    // The catalogue and the two kind-1 schemes.
    const QList<Indicator> indicators = catalogue();
    {
        BatchInsert ins(sqlca, QStringLiteral("s_zbbm"),
                        {QStringLiteral("number"), QStringLiteral("zblx"), QStringLiteral("zbmc"),
                         QStringLiteral("zbms"), QStringLiteral("flag1"), QStringLiteral("flag2")});
        for (const Indicator& i : indicators)
            if (!ins.add({QString::fromLatin1(i.code), i.type, i.name, i.description, i.flag1, i.flag2}))
                return dbFail();
        if (!ins.flush())
            return dbFail();
    }
    {
        BatchInsert ins(sqlca, QStringLiteral("s_zbfa"),
                        {QStringLiteral("falx"), QStringLiteral("fabm"), QStringLiteral("famc"),
                         QStringLiteral("hh"), QStringLiteral("zbbm"), QStringLiteral("zblx"),
                         QStringLiteral("zbmc"), QStringLiteral("zbms"), QStringLiteral("deffa"),
                         QStringLiteral("xz"), QStringLiteral("flag2")});
        int hh = 10;
        for (const Indicator& i : indicators) {
            const QString code = QString::fromLatin1(i.code);
            if (!ins.add({1, 1, QStringLiteral("预设方案"), hh, code, i.type, i.name, i.description, 1, 1,
                          i.flag2}) ||
                !ins.add({1, 2, QStringLiteral("简要方案"), hh, code, i.type, i.name, i.description, 0,
                          kShortScheme.contains(code) ? 1 : 0, i.flag2}))
                return dbFail();
            hh += 10;
        }
        if (!ins.flush())
            return dbFail();
    }
    // Printing with alternating row colours is the province's setting.
    if (!sqlca.execute(QStringLiteral("INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (?, ?, ?)"),
                       {kProvinceCode, QStringLiteral("ReportPrint"), QStringLiteral("1")}))
        return dbFail();

    // Figures: a year of warm-up so the funds are running, then the months kept.
    const int last = monthIndex(lastPeriod);
    const int firstKept = last - kMonthsOfFigures + 1;
    const int start = firstKept - 12;
    BatchInsert ins(sqlca, QStringLiteral("H_stat"),
                    {QStringLiteral("number"), QStringLiteral("kjqj"), QStringLiteral("zbbm"),
                     QStringLiteral("qichu"), QStringLiteral("fasheng"), QStringLiteral("leiji")},
                    150);
    for (const QString& code : villages) {
        Village v(rnd);
        Village::Month prev{};
        for (int m = start; m <= last; ++m) {
            const Village::Month cur = v.step(m);
            if (m >= firstKept) {
                const QString period = periodOf(m);
                for (const Indicator& i : indicators) {
                    if (i.kind == Kind::Ratio)
                        continue;
                    const QString zbbm = QString::fromLatin1(i.code);
                    const Figures f = figuresOf(zbbm, prev, cur);
                    if (!ins.add({code, period, zbbm, f.qichu, f.fasheng, f.leiji}))
                        return dbFail();
                }
            }
            prev = cur;
        }
    }
    if (!ins.flush())
        return dbFail();
    if (!tx.commit())
        return dbFail();
    return true;
}

} // namespace demo
