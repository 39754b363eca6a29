// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/seed.h"

#include "support/testdb.h"

namespace seed {

void monthlyReport(TestDb& db)
{
    struct Region
    {
        const char16_t* code;
        const char16_t* name;
    };
    for (const Region& r : {Region{u"41", u"河南省"}, Region{u"4101", u"郑州市"},
                            Region{u"410101", u"中原区"}, Region{u"410101001", u"须水镇"},
                            Region{u"410101001001", u"东/西:村*?"}, Region{u"410101001002 ", u"金塬村"},
                            Region{u"4101010010011", u"一组"}, Region{u"420101001001", u"外省村"}})
        db.exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES (?, ?)"),
                {QString::fromUtf16(r.code), QString::fromUtf16(r.name)});

    struct Indicator
    {
        const char16_t* code;
        const char16_t* type;
        const char16_t* name;
        int flag1;
        int flag2;
        int hh;
    };
    for (const Indicator& i : {Indicator{u"0001", u"资金", u"互助金总额", 1, 0, 10},
                               Indicator{u"0003", u"资金", u"最大借款, \"单笔\"", 3, 0, 20},
                               Indicator{u"0002", u"比率", u"还款率", 2, 1, 30},
                               Indicator{u"0004", u"质量", u"逾期率", 0, 1, 40}}) {
        const QString code = QString::fromUtf16(i.code);
        const QString type = QString::fromUtf16(i.type);
        const QString name = QString::fromUtf16(i.name);
        db.exec(
            QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES (?, ?, ?, ?, ?)"),
            {code, type, name, i.flag1, i.flag2});
        db.exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) "
                               "VALUES (1, 1, ?, ?, ?, ?, ?, 1, ?)"),
                {kScheme, i.hh, code, type, name, i.flag2});
    }

    db.exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                           "('410101001001', '202409', '0001', 100, 5, 105), "
                           "('410101001001', '202409', '0002', 0.875, 0, 0.5), "
                           "('410101001001', '202409', '0003', 8000, 0, 8000), "
                           "('410101001002', '202409', '0001', 200, 0, 200), "
                           "('410101001002', '202409', '0003', 9000, 0, 9000), "
                           "('4101010010011', '202409', '0001', 7, 0, 7), "
                           "('420101001001', '202409', '0001', 9, 0, 9)"));
}

CommandLine report(const TestDb& db, const QString& hooks)
{
    return batchCommand(QStringLiteral("report"), db.url(), hooks, kPeriod)
        .add(QStringLiteral("--scheme"), kScheme)
        .add(QStringLiteral("--year"), kYear)
        .add(QStringLiteral("--month"), kMonth)
        .add(QStringLiteral("--region"), kRegion);
}

} // namespace seed
