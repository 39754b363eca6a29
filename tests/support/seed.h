// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The figures most report tests start from: 郑州市 (4101) of 河南省 (41) with
// the scheme 月报 and the figures of September 2024.
//
//   41 河南省 > 4101 郑州市 > 410101 中原区 > 410101001 须水镇 >
//     410101001001 "东/西:村*?" (a name a file system refuses),
//     "410101001002 " 金塬村 (its code stored with a trailing blank),
//     4101010010011 一组 (a unit of 13 characters below the first village);
//   420101001001 外省村, a village of another province.
//
// 月报 (kind 1, code 1) in row order, every indicator shown:
//   hh 10  0001 资金 互助金总额          sum       (flag1 1)
//   hh 20  0003 资金 最大借款, "单笔"    maximum   (flag1 3; a name a CSV cell quotes)
//   hh 30  0002 比率 还款率              average   (flag1 2), a percentage (flag2 1)
//   hh 40  0004 质量 逾期率              derived   (flag1 0: a zero row the hook fills), a percentage
//
// Figures of 202409 (qichu / fasheng / leiji):
//   410101001001   0001 100/5/105   0002 0.875/0/0.5   0003 8000/0/8000
//   410101001002   0001 200/0/200                      0003 9000/0/9000
//   4101010010011  0001 7/0/7
//   420101001001   0001 9/0/9
// so 郑州市 and 河南省 read 307.00 / 5.00 / 312.00, 9000.00, 88% / 50%, and a blank 逾期率.

#include "support/commandline.h"

class TestDb;

namespace seed {

inline const QString kScheme = QStringLiteral("月报");
inline const QString kRegion = QStringLiteral("4101");
inline const QString kRegionName = QStringLiteral("郑州市");
inline const QString kPeriod = QStringLiteral("202409");
inline const QString kYear = QStringLiteral("2024");
inline const QString kMonth = QStringLiteral("9");

// Fills the empty tables of `db` with the data above.
void monthlyReport(TestDb& db);

// `allstats report --db DB --hooks HOOKS --period 202409 --scheme 月报 --year 2024
// --month 9 --region 4101`: the seed's own report.
CommandLine report(const TestDb& db, const QString& hooks);

} // namespace seed
