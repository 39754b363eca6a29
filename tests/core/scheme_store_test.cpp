// SPDX-License-Identifier: GPL-3.0-or-later
// Scheme codes under two users adding at the same moment, on both backends.
#include "schemes/schemestore.h"
#include "support/testdb.h"

#include <QThread>
#include <atomic>
#include <thread>

namespace {

class SchemeStoreTest : public BackendTest
{
};

TEST_P(SchemeStoreTest, AddsOnTwoConnectionsAtOnceGetTwoCodes)
{
    db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                            "('0001', '规模', '互助金总额', 1, 0), ('0002', '规模', '入社农户', 1, 0), "
                            "('0003', '质量', '逾期率', 0, 1)"));
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, xz, deffa) "
                            "VALUES (1, 4, '预设方案', 10, '0001', 1, 1)"));
    const QString url = db->url();
    QString error;
    auto mine = Sqlca::connect(url, &error);
    ASSERT_TRUE(mine) << error.toStdString();

    std::optional<zbfa::Added> first, second;
    QString secondError;
    std::atomic<bool> secondReadItsCode{false};
    std::thread other;
    first = zbfa::add(*mine, 1, [&](int) {
        // While this add is between reading the highest code and inserting,
        // another user adds a scheme of the same kind.
        other = std::thread([&] {
            QString e;
            auto theirs = Sqlca::connect(url, &e);
            if (!theirs) {
                secondError = e;
                return;
            }
            second = zbfa::add(*theirs, 1, [&](int) { secondReadItsCode = true; });
            if (!second)
                secondError = theirs->SQLErrText;
        });
        // Give the other add every chance to read the same highest code.
        for (int i = 0; i < 100 && !secondReadItsCode; ++i)
            QThread::msleep(10);
    });
    other.join();
    ASSERT_TRUE(first) << mine->SQLErrText.toStdString();
    ASSERT_TRUE(second) << secondError.toStdString();
    EXPECT_NE(first->fabm, second->fabm);
    EXPECT_EQ(std::min(first->fabm, second->fabm), 5);
    EXPECT_EQ(std::max(first->fabm, second->fabm), 6);
    for (const auto& added : {*first, *second}) {
        EXPECT_EQ(added.famc, QStringLiteral("方案%1").arg(added.fabm));
        EXPECT_EQ(
            sqlca()
                .selectValue(
                    QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND fabm = ? AND famc = ?"),
                    {added.fabm, added.famc})
                .toInt(),
            3);
    }
    EXPECT_FALSE(mine->inTransaction());
}

ALLSTATS_ON_ALL_BACKENDS(SchemeStoreTest);

} // namespace
