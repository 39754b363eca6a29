// SPDX-License-Identifier: GPL-3.0-or-later
// The scheme editor driven through its controls, with scripted answers to its
// message boxes, on both backends.
#include "foundation/gridbuffer.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "report/ui/w_xmjdzl.h"
#include "schemes/ui/w_zbfa_set.h"
#include "support/fakehost.h"
#include "support/testdb.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

namespace {

const QString kNotice = QStringLiteral("提示信息");

class SchemeEditorTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        host = std::make_unique<FakeHost>(sqlca());
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) VALUES "
                                "('0001', '规模', '互助金总额', '说明一', 1, 0), "
                                "('0002', '规模', '入社农户', '说明二', 1, 0), "
                                "('0003', '质量', '最大单笔借款', '说明三', 3, 0), "
                                "('0004', '质量', '逾期率', '说明四', 0, 1)"));
        // Kind 1: the preset scheme (the default) and a short one; kind 2 a
        // scheme whose rows share indicator and row order with the preset one.
        for (const QString& zbbm : {QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("0003"),
                                    QStringLiteral("0004")}) {
            const int hh = zbbm.toInt() * 10;
            insertRow(1, 1, QStringLiteral("预设方案"), hh, zbbm, 1, 1);
            insertRow(2, 1, QStringLiteral("乙类方案"), hh, zbbm, 1, 1);
        }
        insertRow(1, 2, QStringLiteral("简要方案"), 10, QStringLiteral("0002"), 1, 0);
        insertRow(1, 2, QStringLiteral("简要方案"), 20, QStringLiteral("0001"), 0, 0);
    }
    void TearDown() override
    {
        delete window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        host.reset();
        BackendTest::TearDown();
    }

    void insertRow(int falx, int fabm, const QString& famc, int hh, const QString& zbbm, int xz, int deffa)
    {
        db->exec(QStringLiteral(
                     "INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, zbms, deffa, xz, flag2) "
                     "SELECT ?, ?, ?, ?, number, zblx, zbmc, zbms, ?, ?, flag2 FROM s_zbbm WHERE number = ?"),
                 {falx, fabm, famc, hh, deffa, xz, zbbm});
    }

    w_zbfa_set& open(int kind = 1)
    {
        host->message.clear();
        host->message.numberParm = kind;
        window = new w_zbfa_set(*host);
        EXPECT_TRUE(window->Open());
        window->show();
        return *window;
    }
    GridBuffer& grid() { return window->m_dw_1->buffer(); }
    // Lets a closed window go.
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // The stored rows of a scheme as "zbbm hh xz famc", in row order.
    QStringList stored(int falx, int fabm)
    {
        QStringList out;
        const auto rows = sqlca().selectAll(
            QStringLiteral(
                "SELECT zbbm, hh, xz, famc FROM s_zbfa WHERE falx = ? AND fabm = ? ORDER BY hh, zbbm"),
            {falx, fabm});
        for (const QVariantList& r : rows.value_or(QList<QVariantList>{}))
            out << QStringLiteral("%1 %2 %3 %4")
                       .arg(r[0].toString(), r[1].toString(), r[2].toString(), r[3].toString());
        return out;
    }
    // The shown rows as "zbbm hh".
    QStringList shown()
    {
        QStringList out;
        for (long r = 1; r <= grid().RowCount(); ++r)
            out << grid().GetItemString(r, QStringLiteral("zbbm")) + u' ' +
                       grid().GetItemString(r, QStringLiteral("hh"));
        return out;
    }
    QStringList listItems()
    {
        QStringList out;
        for (int i = 0; i < window->ddlb_1->count(); ++i)
            out << window->ddlb_1->itemText(i);
        return out;
    }
    int count(const QString& sql, const QVariantList& binds = {})
    {
        return sqlca().selectValue(sql, binds).toInt();
    }
    // Makes the database refuse a statement on s_zbfa ("INSERT", "UPDATE" or
    // "DELETE"), optionally only for rows matching `when` (NEW./OLD. columns).
    void refuse(const QString& event, const QString& when = {})
    {
        if (GetParam() == Backend::SQLite) {
            db->exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON s_zbfa %2 "
                                    "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END")
                         .arg(event, when.isEmpty() ? QString() : QStringLiteral("WHEN ") + when));
        } else {
            db->exec(
                QStringLiteral("CREATE OR REPLACE FUNCTION refuse_row() RETURNS trigger LANGUAGE plpgsql AS "
                               "$$ BEGIN RAISE EXCEPTION 'refused by the test'; END $$"));
            db->exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON s_zbfa FOR EACH ROW %2 "
                                    "EXECUTE FUNCTION refuse_row()")
                         .arg(event, when.isEmpty() ? QString() : QStringLiteral("WHEN (%1)").arg(when)));
        }
    }
    void unrefuse(const QString& event)
    {
        db->exec(GetParam() == Backend::SQLite
                     ? QStringLiteral("DROP TRIGGER refuse_%1").arg(event)
                     : QStringLiteral("DROP TRIGGER refuse_%1 ON s_zbfa").arg(event));
    }
    const ScriptedMessageService::Shown& lastBox() { return boxes.shown().last(); }

    ScriptedMessageService boxes;
    ScopedMessages scoped{&boxes};
    std::unique_ptr<FakeHost> host;
    QPointer<w_zbfa_set> window;
};

TEST_P(SchemeEditorTest, OpensOnTheFirstSchemeOfItsKindWithTheButtonsOfTheBrowsingState)
{
    w_zbfa_set& w = open();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("统计指标管理"));
    EXPECT_EQ(w.li_falx, 1);
    EXPECT_EQ(host->gdw_share, w.m_dw_1);
    EXPECT_EQ(listItems(), (QStringList{QStringLiteral("预设方案"), QStringLiteral("简要方案")}));
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("预设方案"));
    EXPECT_FALSE(w.ddlb_1->isEditable());
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0001 10"), QStringLiteral("0002 20"),
                                    QStringLiteral("0003 30"), QStringLiteral("0004 40")}));
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("预设方案统计指标"));
    EXPECT_EQ(w.cb_1->text(), QStringLiteral("添加(&A)"));
    for (QPushButton* b : {w.cb_1, w.cb_2, w.cb_3, w.cb_4, w.cb_5})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(w.rb_1->isChecked());

    // Choosing another scheme loads it unchanged (no top-up) under its title.
    w.ddlb_1->setCurrentIndex(1);
    emit w.ddlb_1->activated(1);
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0002 10"), QStringLiteral("0001 20")}));
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("简要方案统计指标"));
    EXPECT_EQ(stored(1, 2).size(), 2);

    // A kind without schemes: empty list and grid, only add and exit work.
    delete window.data();
    w_zbfa_set& empty = open(7);
    EXPECT_EQ(empty.ddlb_1->count(), 0);
    EXPECT_EQ(grid().RowCount(), 0);
    EXPECT_FALSE(empty.cb_2->isEnabled());
    EXPECT_FALSE(empty.cb_3->isEnabled());
    EXPECT_FALSE(empty.cb_5->isEnabled());
    EXPECT_TRUE(empty.cb_1->isEnabled());
    EXPECT_TRUE(empty.cb_4->isEnabled());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_P(SchemeEditorTest, AddNameSaveAndAddCancelWalkBetweenTheTwoStates)
{
    w_zbfa_set& w = open(7);
    // The first scheme of a kind gets code 1 and the name 方案1, every indicator selected, committed at once.
    w.cb_1->click();
    EXPECT_EQ(w.cb_1->text(), QStringLiteral("取消(&C)"));
    EXPECT_TRUE(w.cb_2->isEnabled());
    EXPECT_FALSE(w.cb_3->isEnabled());
    EXPECT_FALSE(w.cb_5->isEnabled());
    EXPECT_TRUE(w.ddlb_1->isEditable());
    EXPECT_EQ(w.ddlb_1->count(), 0);
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("方案1"));
    EXPECT_EQ(w.ddlb_1->lineEdit()->selectedText(), QStringLiteral("方案1"));
    EXPECT_EQ(w.pendingScheme(), 1);
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("方案1统计指标"));
    EXPECT_EQ(stored(7, 1),
              (QStringList{QStringLiteral("0001 10 1 方案1"), QStringLiteral("0002 20 1 方案1"),
                           QStringLiteral("0003 30 1 方案1"), QStringLiteral("0004 40 1 方案1")}));
    auto other = db->connectAgain();
    EXPECT_EQ(other->selectValue(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 7")).toInt(), 4);

    // Name it, untick one, save: every row carries the trimmed name; back to browsing.
    w.ddlb_1->setEditText(QStringLiteral("  月报方案 "));
    ASSERT_EQ(grid().SetText(2, QStringLiteral("xz"), 0), 1);
    boxes.answer(msg::No);
    w.cb_2->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("确认保存当前方案信息吗?"));
    EXPECT_EQ(lastBox().icon, msg::Icon::Question);
    EXPECT_EQ(lastBox().buttons, msg::Buttons::YesNo);
    EXPECT_TRUE(w.adding()) << "not confirmed: nothing changes";
    EXPECT_EQ(grid().GetItemString(2, QStringLiteral("xz")), QStringLiteral("0"));
    boxes.answer(msg::Yes);
    w.cb_2->click();
    EXPECT_FALSE(w.adding());
    EXPECT_FALSE(w.ddlb_1->isEditable());
    EXPECT_EQ(listItems(), QStringList{QStringLiteral("月报方案")});
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("月报方案"));
    EXPECT_TRUE(w.cb_3->isEnabled());
    EXPECT_TRUE(w.cb_5->isEnabled());
    EXPECT_EQ(stored(7, 1),
              (QStringList{QStringLiteral("0001 10 1 月报方案"), QStringLiteral("0002 20 0 月报方案"),
                           QStringLiteral("0003 30 1 月报方案"), QStringLiteral("0004 40 1 月报方案")}));
    EXPECT_EQ(
        other->selectValue(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 7 AND xz = 0")).toInt(),
        1);

    // The next add gets code 2; cancel removes it and loads the first scheme again.
    boxes.clear();
    w.cb_1->click();
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("方案2"));
    EXPECT_EQ(stored(7, 2).size(), 4);
    w.cb_1->click();
    EXPECT_FALSE(w.adding());
    EXPECT_TRUE(stored(7, 2).isEmpty());
    EXPECT_EQ(listItems(), QStringList{QStringLiteral("月报方案")});
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("月报方案"));
    EXPECT_EQ(shown().size(), 4);
    EXPECT_TRUE(w.cb_2->isEnabled() && w.cb_3->isEnabled() && w.cb_5->isEnabled());
    EXPECT_TRUE(boxes.shown().isEmpty());

    // A name another scheme of the kind carries is refused: a kind's name stands for one scheme.
    w.cb_1->click();
    w.ddlb_1->setEditText(QStringLiteral("月报方案"));
    boxes.answer(msg::Yes);
    w.cb_2->click();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(lastBox().title.isEmpty());
    EXPECT_TRUE(w.adding());
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 7 AND famc = ?"),
                    {QStringLiteral("月报方案")}),
              4);
}

TEST_P(SchemeEditorTest, TheTitleAndTheDeleteQuestionNameTheSchemeOnScreen)
{
    w_zbfa_set& w = open(7);
    // A new scheme saved under a name of its own: the title follows the name.
    w.cb_1->click();
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("方案1统计指标"));
    w.ddlb_1->setEditText(QStringLiteral(" 季报 "));
    boxes.answer(msg::Yes);
    w.cb_2->click();
    ASSERT_FALSE(w.adding());
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("季报统计指标"));

    // A second scheme made the default: the title is its own, the delete question says so.
    w.cb_1->click();
    boxes.answer(msg::Yes);
    w.cb_2->click();
    ASSERT_EQ(w.ddlb_1->currentText(), QStringLiteral("方案2"));
    w.ddlb_1->setCurrentIndex(w.ddlb_1->findText(QStringLiteral("季报")));
    grid().setText(QStringLiteral("t_biaoti"), QString());
    boxes.answer(msg::Yes);
    w.cb_5->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("季报已设置为默认方案组"));
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("季报统计指标"));
    boxes.answer(msg::No);
    w.cb_3->click();
    EXPECT_EQ(lastBox().title, kNotice);
    EXPECT_EQ(lastBox().text, QStringLiteral("确认删除当前方案信息吗?\n\n方案：季报（默认方案）"));
    EXPECT_EQ(stored(7, 1).size(), 4) << "answered no";
    w.ddlb_1->setCurrentIndex(w.ddlb_1->findText(QStringLiteral("方案2")));
    emit w.ddlb_1->activated(w.ddlb_1->currentIndex());
    boxes.answer(msg::Yes);
    w.cb_3->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("确认删除当前方案信息吗?\n\n方案：方案2"));
    EXPECT_TRUE(stored(7, 2).isEmpty());
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("季报统计指标"));

    // Opened on a scheme by name (the report's "..."): that one; a name the kind lacks: the first.
    window->close();
    settle();
    host->message.clear();
    host->message.numberParm = 1;
    host->message.stringParm = QStringLiteral("简要方案");
    window = new w_zbfa_set(*host);
    ASSERT_TRUE(window->Open());
    EXPECT_EQ(window->ddlb_1->currentText(), QStringLiteral("简要方案"));
    EXPECT_EQ(shown().size(), 2);
    delete window.data();
    host->message.stringParm = QStringLiteral("没有的方案");
    window = new w_zbfa_set(*host);
    ASSERT_TRUE(window->Open());
    EXPECT_EQ(window->ddlb_1->currentText(), QStringLiteral("预设方案"));
}

TEST_P(SchemeEditorTest, AFailedAddLeavesNothingAndTheScreenAsItWas)
{
    w_zbfa_set& w = open();
    refuse(QStringLiteral("INSERT"), QStringLiteral("NEW.zbbm = '0003'"));
    w.cb_1->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(lastBox().title.isEmpty());
    EXPECT_TRUE(lastBox().text.contains(QStringLiteral("refused by the test")))
        << lastBox().text.toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND fabm = 3")), 0);
    EXPECT_FALSE(w.adding());
    EXPECT_EQ(listItems(), (QStringList{QStringLiteral("预设方案"), QStringLiteral("简要方案")}));
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("预设方案"));
    EXPECT_EQ(shown().size(), 4);
    EXPECT_TRUE(w.cb_3->isEnabled() && w.cb_5->isEnabled());
    // A later save commits nothing of the failed add either.
    boxes.answer(msg::Yes);
    w.cb_2->click();
    unrefuse(QStringLiteral("INSERT"));
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND fabm = 3")), 0);
    w.cb_1->click();
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("方案3"));
}

TEST_P(SchemeEditorTest, ExitWhileAddingAsksAndTheTitleBarKeepsTheAddedScheme)
{
    w_zbfa_set& w = open();
    w.cb_1->click();
    ASSERT_EQ(w.pendingScheme(), 3);
    boxes.answer(msg::No);
    w.cb_4->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("确认放弃保存当前方案信息吗?"));
    EXPECT_EQ(lastBox().buttons, msg::Buttons::YesNo);
    settle();
    ASSERT_TRUE(window);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(stored(1, 3).size(), 4);

    // Yes removes the new scheme and closes without asking about its edits.
    grid().SetText(1, QStringLiteral("xz"), 0);
    boxes.clear();
    boxes.answer(msg::Yes);
    w.cb_4->click();
    settle();
    EXPECT_FALSE(window);
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(stored(1, 3).isEmpty());

    // Closed through the title bar the added scheme stays, under its default name.
    open().cb_1->click();
    window->close();
    settle();
    EXPECT_FALSE(window);
    EXPECT_EQ(stored(1, 3).size(), 4);
    EXPECT_EQ(stored(1, 3).first(), QStringLiteral("0001 10 1 方案3"));
    // Browsing, exit closes at once.
    open().cb_4->click();
    settle();
    EXPECT_FALSE(window);
}

TEST_P(SchemeEditorTest, DeleteRefusesThePresetSchemeAndShowsWhatFails)
{
    w_zbfa_set& w = open();
    ASSERT_EQ(w.ddlb_1->currentText(), QStringLiteral("预设方案"));
    w.cb_3->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(lastBox().title, kNotice);
    EXPECT_EQ(lastBox().text, QStringLiteral("系统预设方案不可删除"));
    EXPECT_EQ(stored(1, 1).size(), 4);

    w.ddlb_1->setCurrentIndex(1);
    emit w.ddlb_1->activated(1);
    boxes.answer(msg::No);
    w.cb_3->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("确认删除当前方案信息吗?\n\n方案：简要方案"));
    EXPECT_EQ(stored(1, 2).size(), 2);

    // A delete the database refuses says so; the scheme stays and the first scheme is loaded.
    refuse(QStringLiteral("DELETE"));
    boxes.clear();
    boxes.answer(msg::Yes);
    w.cb_3->click();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(lastBox().title.isEmpty());
    EXPECT_TRUE(lastBox().text.contains(QStringLiteral("refused by the test")));
    EXPECT_EQ(stored(1, 2).size(), 2);
    EXPECT_EQ(listItems().size(), 2);
    unrefuse(QStringLiteral("DELETE"));

    w.ddlb_1->setCurrentIndex(1);
    emit w.ddlb_1->activated(1);
    boxes.clear();
    boxes.answer(msg::Yes);
    w.cb_3->click();
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(stored(1, 2).isEmpty());
    EXPECT_EQ(listItems(), QStringList{QStringLiteral("预设方案")});
    EXPECT_EQ(w.ddlb_1->currentText(), QStringLiteral("预设方案"));
    EXPECT_EQ(shown().size(), 4);
    EXPECT_EQ(stored(2, 1).size(), 4) << "the other kind keeps its scheme";

    // A name that stands for two codes is not turned into code 0: the delete says why and removes nothing.
    insertRow(1, 8, QStringLiteral("重名方案"), 10, QStringLiteral("0001"), 1, 0);
    insertRow(1, 9, QStringLiteral("重名方案"), 10, QStringLiteral("0002"), 1, 0);
    w.uf_restfamc();
    w.ddlb_1->setCurrentIndex(w.ddlb_1->findText(QStringLiteral("重名方案")));
    boxes.clear();
    boxes.answer(msg::Yes);
    w.cb_3->click();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(lastBox().title.isEmpty());
    EXPECT_FALSE(lastBox().text.isEmpty());
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE famc = ?"), {QStringLiteral("重名方案")}), 2);
}

TEST_P(SchemeEditorTest, DefaultGroupMovesTheMarkInOneStepAndNeverLeavesTheKindWithout)
{
    w_zbfa_set& w = open();
    auto defaults = [&] {
        return sqlca()
            .selectAll(QStringLiteral("SELECT DISTINCT fabm FROM s_zbfa WHERE falx = 1 AND deffa = 1"))
            .value_or(QList<QVariantList>{});
    };
    w.ddlb_1->setCurrentIndex(1);
    emit w.ddlb_1->activated(1);
    boxes.answer(msg::No);
    w.cb_5->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("确认设置当前方案为默认方案组吗?"));
    ASSERT_EQ(defaults().size(), 1);
    EXPECT_EQ(defaults()[0][0].toInt(), 1);

    boxes.answer(msg::Yes);
    w.cb_5->click();
    EXPECT_EQ(lastBox().title, kNotice);
    EXPECT_EQ(lastBox().text, QStringLiteral("简要方案已设置为默认方案组"));
    // Durable at once: another user sees B as the only default.
    auto other = db->connectAgain();
    EXPECT_EQ(other->selectValue(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND deffa = 1"))
                  .toInt(),
              2);
    EXPECT_EQ(other->selectValue(QStringLiteral("SELECT min(fabm) FROM s_zbfa WHERE falx = 1 AND deffa = 1"))
                  .toInt(),
              2);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 2 AND deffa = 1")), 4)
        << "another kind keeps its own default";

    // Back to A, then B again while another user has deleted B: the mark stays on A.
    w.ddlb_1->setCurrentIndex(0);
    emit w.ddlb_1->activated(0);
    boxes.answer(msg::Yes);
    w.cb_5->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("预设方案已设置为默认方案组"));
    ASSERT_TRUE(other->execute(QStringLiteral("DELETE FROM s_zbfa WHERE falx = 1 AND fabm = 2")));
    w.ddlb_1->setCurrentIndex(1);
    boxes.answer(msg::Yes);
    w.cb_5->click();
    EXPECT_EQ(lastBox().title, kNotice);
    EXPECT_NE(lastBox().text, QStringLiteral("简要方案已设置为默认方案组"));
    ASSERT_EQ(defaults().size(), 1);
    EXPECT_EQ(defaults()[0][0].toInt(), 1);
    EXPECT_FALSE(sqlca().inTransaction());
}

TEST_P(SchemeEditorTest, TopUpAppendsMissingIndicatorsToTheFirstSchemeByCount)
{
    // Fewer rows than the catalogue: the missing ones are appended, unselected, max + 10, + 20.
    insertRow(3, 5, QStringLiteral("丙方案"), 10, QStringLiteral("0002"), 1, 1);
    insertRow(3, 5, QStringLiteral("丙方案"), 15, QStringLiteral("0004"), 1, 1);
    open(3);
    EXPECT_EQ(stored(3, 5),
              (QStringList{QStringLiteral("0002 10 1 丙方案"), QStringLiteral("0004 15 1 丙方案"),
                           QStringLiteral("0001 25 0 丙方案"), QStringLiteral("0003 35 0 丙方案")}));
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 3 AND deffa = 1")), 2);
    EXPECT_EQ(shown().size(), 4);
    delete window.data();
    open(3);
    EXPECT_EQ(stored(3, 5).size(), 4) << "reopening adds nothing more";
    delete window.data();

    // As many rows as the catalogue, one indicator missing and one extra: nothing is added.
    insertRow(4, 1, QStringLiteral("丁方案"), 10, QStringLiteral("0001"), 1, 0);
    insertRow(4, 1, QStringLiteral("丁方案"), 20, QStringLiteral("0002"), 1, 0);
    insertRow(4, 1, QStringLiteral("丁方案"), 30, QStringLiteral("0003"), 1, 0);
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, xz, deffa) "
                            "VALUES (4, 1, '丁方案', 40, '0099', 1, 0)"));
    open(4);
    EXPECT_EQ(stored(4, 1).size(), 4);
    EXPECT_EQ(shown().size(), 3) << "the row whose indicator left the catalogue is not shown";
}

TEST_P(SchemeEditorTest, RowOrderEditRenumbersBeforeTheTypedValueIsStored)
{
    insertRow(5, 1, QStringLiteral("PQR"), 10, QStringLiteral("0001"), 1, 0);
    insertRow(5, 1, QStringLiteral("PQR"), 20, QStringLiteral("0002"), 1, 0);
    insertRow(5, 1, QStringLiteral("PQR"), 30, QStringLiteral("0003"), 1, 0);
    insertRow(5, 1, QStringLiteral("PQR"), 40, QStringLiteral("0004"), 1, 0);
    w_zbfa_set& w = open(5);
    // P = 0001, Q = 0002, R = 0003 (and S = 0004 behind them). 25 typed into P's row-order cell.
    QTableView* table = w.m_dw_1->table();
    int hhColumn = -1;
    for (int c = 0; c < table->model()->columnCount(); ++c)
        if (table->model()->headerData(c, Qt::Horizontal).toString() == QStringLiteral("行序"))
            hhColumn = c;
    ASSERT_GE(hhColumn, 0);
    const QModelIndex cell = table->model()->index(0, hhColumn);
    table->setCurrentIndex(cell);
    table->edit(cell);
    auto* editor = table->findChild<QLineEdit*>();
    ASSERT_TRUE(editor);
    editor->setText(QStringLiteral("25"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0001 25"), QStringLiteral("0002 20"),
                                    QStringLiteral("0003 30"), QStringLiteral("0004 40")}));
    // A view filter command sorts: Q, P, R with their numbers kept.
    w.rb_1->click();
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0002 20"), QStringLiteral("0001 25"),
                                    QStringLiteral("0003 30"), QStringLiteral("0004 40")}));
    // The next edit sorts and renumbers 10, 20, 30 first, then stores the typed value.
    ASSERT_EQ(grid().SetText(3, QStringLiteral("hh"), 5), 1);
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0002 10"), QStringLiteral("0001 20"),
                                    QStringLiteral("0003 5"), QStringLiteral("0004 40")}));
    // Other columns trigger nothing.
    ASSERT_EQ(grid().SetText(1, QStringLiteral("xz"), 0), 1);
    EXPECT_EQ(shown().first(), QStringLiteral("0002 10"));

    boxes.answer(msg::Yes);
    w.cb_2->click();
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(stored(5, 1), (QStringList{QStringLiteral("0003 5 1 PQR"), QStringLiteral("0002 10 0 PQR"),
                                         QStringLiteral("0001 20 1 PQR"), QStringLiteral("0004 40 1 PQR")}));
    EXPECT_EQ(stored(1, 1).first(), QStringLiteral("0001 10 1 预设方案")) << "other schemes' rows untouched";
}

TEST_P(SchemeEditorTest, FiltersHideRowsThatKeepTheirNumbersAndSaveNamesThemToo)
{
    w_zbfa_set& w = open(7);
    w.cb_1->click(); // 方案1: four rows, all selected
    grid().SetText(2, QStringLiteral("xz"), 0);
    grid().SetText(4, QStringLiteral("xz"), 0);
    w.rb_2->click(); // with the list empty while adding, the filter waits
    EXPECT_EQ(grid().RowCount(), 4);
    boxes.answer(msg::Yes);
    w.cb_2->click(); // saved under the default name
    ASSERT_FALSE(w.adding());

    w.rb_2->click();
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0001 10"), QStringLiteral("0003 30")}));
    // Renumbering works on the shown rows: the hidden ones keep theirs.
    grid().SetText(2, QStringLiteral("hh"), 15);
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0001 10"), QStringLiteral("0003 15")}));
    w.rb_3->click();
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0002 20"), QStringLiteral("0004 40")}));
    w.rb_1->click();
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0001 10"), QStringLiteral("0003 15"),
                                    QStringLiteral("0002 20"), QStringLiteral("0004 40")}));

    // A new scheme comes up under the filter in force: "显示未选指标" hides all of
    // it. Named and saved so, every row takes the name all the same.
    w.rb_3->click();
    w.cb_1->click();
    const int code = w.pendingScheme();
    EXPECT_EQ(code, 2);
    EXPECT_EQ(grid().RowCount(), 0);
    w.ddlb_1->setEditText(QStringLiteral("季报方案"));
    boxes.answer(msg::Yes);
    w.cb_2->click();
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 7 AND fabm = ? AND famc = ?"),
                    {code, QStringLiteral("季报方案")}),
              4);
    EXPECT_EQ(listItems(), (QStringList{QStringLiteral("方案1"), QStringLiteral("季报方案")}));
}

TEST_P(SchemeEditorTest, CloseQueryAnswersYesNoAndCancel)
{
    // Cancel keeps the screen and the edit; No closes and loses it; Yes writes it.
    for (const int answer : {msg::Cancel, msg::No, msg::Yes}) {
        if (!window)
            open();
        boxes.clear();
        grid().SetText(1, QStringLiteral("s_zbfa_zbmc"), QStringLiteral("改名%1").arg(answer));
        boxes.answer(answer);
        window->close();
        settle();
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_TRUE(boxes.shown()[0].title.isEmpty());
        EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("指标方案已修改，请确认是否保存？"));
        EXPECT_EQ(boxes.shown()[0].icon, msg::Icon::Question);
        EXPECT_EQ(boxes.shown()[0].buttons, msg::Buttons::YesNoCancel);
        EXPECT_EQ(bool(window), answer == msg::Cancel);
        const QString stored =
            sqlca()
                .selectValue(
                    QStringLiteral("SELECT zbmc FROM s_zbfa WHERE falx = 1 AND fabm = 1 AND zbbm = '0001'"))
                .toString();
        EXPECT_EQ(stored, answer == msg::Yes ? QStringLiteral("改名1") : QStringLiteral("互助金总额"));
        if (window) {
            EXPECT_TRUE(grid().IsRowModified(1));
            delete window.data();
        }
    }
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 2 AND zbmc = '改名1'")), 0);

    // Without edits nothing is asked; a write the database refuses is shown and the screen stays.
    open();
    window->close();
    settle();
    EXPECT_FALSE(window);
    open();
    refuse(QStringLiteral("UPDATE"));
    grid().SetText(1, QStringLiteral("xz"), 0);
    boxes.clear();
    boxes.answer(msg::Yes);
    window->close();
    settle();
    ASSERT_TRUE(window);
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(lastBox().title.isEmpty());
    EXPECT_TRUE(lastBox().text.contains(QStringLiteral("refused by the test")));
    EXPECT_TRUE(grid().IsRowModified(1));
    EXPECT_FALSE(sqlca().inTransaction());
}

TEST_P(SchemeEditorTest, ASaveOvertakenByAnotherUserIsNotReportedAsSaved)
{
    w_zbfa_set& w = open();
    grid().SetText(1, QStringLiteral("xz"), 0);
    grid().SetText(2, QStringLiteral("s_zbfa_zbmc"), QStringLiteral("新名称"));
    auto other = db->connectAgain();
    ASSERT_TRUE(other->execute(
        QStringLiteral("UPDATE s_zbfa SET hh = 12 WHERE falx = 1 AND fabm = 1 AND zbbm = '0002'")));
    boxes.answer(msg::Yes);
    w.cb_2->click();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(lastBox().title.isEmpty());
    EXPECT_FALSE(lastBox().text.isEmpty());
    EXPECT_EQ(stored(1, 1),
              (QStringList{QStringLiteral("0001 10 1 预设方案"), QStringLiteral("0002 12 1 预设方案"),
                           QStringLiteral("0003 30 1 预设方案"), QStringLiteral("0004 40 1 预设方案")}))
        << "nothing of the save is written";
    EXPECT_EQ(grid().ModifiedCount(), 2) << "the edits stay for another attempt";
    EXPECT_FALSE(sqlca().inTransaction());
}

TEST_P(SchemeEditorTest, ASchemeBuiltFromTheReportScreenDrivesTheReport)
{
    host->screenFactory = [this](const QString& name, QWidget* parent) -> QWidget* {
        if (name != u"w_zbfa_set")
            return nullptr;
        window = new w_zbfa_set(*host, parent);
        window->setWindowFlag(Qt::Window, true);
        return window->Open() ? window.data() : nullptr;
    };
    host->gs_kjqj = QStringLiteral("202409");
    host->gs_userqybm = QStringLiteral("45");
    db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('45', '青山省')"));
    for (const QString& zbbm : {QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("0003")})
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                                "VALUES ('450101001001', '202409', ?, 1, 2, 3)"),
                 {zbbm});
    w_xmjdzl report(*host);
    ASSERT_TRUE(report.Open());
    report.ddlb_3->setCurrentIndex(report.ddlb_3->findText(QStringLiteral("简要方案")));
    report.cb_2->click();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->li_falx, 1);
    // On the scheme chosen in the report, as it is: not topped up like the first scheme.
    EXPECT_EQ(window->ddlb_1->currentText(), QStringLiteral("简要方案"));
    EXPECT_EQ(grid().text(QStringLiteral("t_biaoti")), QStringLiteral("简要方案统计指标"));
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("0002 10"), QStringLiteral("0001 20")}));
    EXPECT_TRUE(window->cb_2->isEnabled() && window->cb_3->isEnabled() && window->cb_5->isEnabled());

    // Add, name, untick one, move one up by its row order, save, make it the default.
    window->cb_1->click();
    window->ddlb_1->setEditText(QStringLiteral("新方案"));
    ASSERT_EQ(grid().SetText(2, QStringLiteral("xz"), 0), 1);
    ASSERT_EQ(grid().SetText(3, QStringLiteral("hh"), 5), 1);
    boxes.answer(msg::Yes);
    window->cb_2->click();
    boxes.answer(msg::Yes);
    window->cb_5->click();
    EXPECT_EQ(lastBox().text, QStringLiteral("新方案已设置为默认方案组"));
    window->close();
    settle();
    ASSERT_FALSE(window);
    // The report's list follows, the chosen scheme stays chosen.
    QStringList items;
    for (int i = 0; i < report.ddlb_3->count(); ++i)
        items << report.ddlb_3->itemText(i);
    EXPECT_EQ(items, (QStringList{QStringLiteral("预设方案"), QStringLiteral("简要方案"),
                                  QStringLiteral("新方案")}));
    EXPECT_EQ(report.ddlb_3->currentText(), QStringLiteral("简要方案"));

    // The report of the new scheme shows the ticked indicators in the new order.
    report.ddlb_3->setCurrentIndex(2);
    report.ddlb_1->setCurrentText(QStringLiteral("2024"));
    report.ddlb_2->setCurrentText(QStringLiteral("9"));
    report.query();
    GridBuffer& shownReport = report.m_dw_1->buffer();
    QStringList names;
    for (long r = 1; r <= shownReport.RowCount(); ++r)
        names << shownReport.GetItemString(r, QStringLiteral("s_zbfa_zbmc"));
    EXPECT_EQ(names, (QStringList{QStringLiteral("最大单笔借款"), QStringLiteral("互助金总额"),
                                  QStringLiteral("逾期率")}));

    // The chosen scheme deleted in the editor leaves the list.
    report.cb_2->click();
    ASSERT_TRUE(window);
    window->ddlb_1->setCurrentIndex(window->ddlb_1->findText(QStringLiteral("新方案")));
    emit window->ddlb_1->activated(window->ddlb_1->currentIndex());
    boxes.answer(msg::Yes);
    window->cb_3->click();
    window->cb_4->click();
    settle();
    ASSERT_FALSE(window);
    EXPECT_EQ(report.ddlb_3->findText(QStringLiteral("新方案")), -1);
    EXPECT_EQ(report.ddlb_3->count(), 2);
}

ALLSTATS_ON_ALL_BACKENDS(SchemeEditorTest);

} // namespace
