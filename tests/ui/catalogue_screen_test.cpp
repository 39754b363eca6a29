// SPDX-License-Identifier: GPL-3.0-or-later
// The catalogue screen w_guide_set on both backends: the open protocol (its
// rights gate: rights_gate_test), the grid d_guideline, edits that survive the cells, the save and its
// refusals, the question before unsaved edits are closed away, printing and export.
#include "catalogue/d_guideline.h"
#include "catalogue/ui/w_guide_set.h"
#include "foundation/gridprint.h"
#include "foundation/ui/messages.h"
#include "host/xlsxexport.h"
#include "support/files.h"
#include "testwindows.h"

#include <QDir>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kLong =
    QStringLiteral("期末尚未归还且已超过约定还款日期的借款本金合计，含展期后仍未归还的部分；") +
    QString(120 - 36, QChar(u'述'));

class CatalogueScreenTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        host = std::make_unique<FakeHost>(sqlca());
        GridView::setPrintFolder(printDir.path());
    }
    void TearDown() override
    {
        for (const QPointer<w_guide_set>& w : windows)
            if (w) {
                w->setAttribute(Qt::WA_DeleteOnClose, false);
                delete w.data();
            }
        GridView::setPrintFolder(QString());
        host.reset();
        BackendTest::TearDown();
    }
    void fill(int rows)
    {
        for (int i = 1; i <= rows; ++i)
            db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) "
                                    "VALUES (?, ?, ?, ?, 1, 0)"),
                     {QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')),
                      i % 3 ? QStringLiteral("借款发放") : QStringLiteral("借款质量"),
                      QStringLiteral("指标%1").arg(i), i == 2 ? kLong : QStringLiteral("说明%1").arg(i)});
    }
    // Opens the screen as the host does; null when the gate refused it.
    w_guide_set* open()
    {
        QPointer<w_guide_set> w = new w_guide_set(*host);
        if (!w->Open()) {
            processDeletes();
            return nullptr;
        }
        windows << w;
        w->show();
        return w;
    }
    static GridBuffer& grid(w_guide_set* w) { return w->m_dw_1->buffer(); }
    static m_guide_set* menu(w_guide_set* w) { return static_cast<m_guide_set*>(w->menu()); }
    static long rowOf(w_guide_set* w, const QString& code)
    {
        for (long r = 1; r <= grid(w).RowCount(); ++r)
            if (grid(w).GetItemString(r, QStringLiteral("number")) == code)
                return r;
        return 0;
    }
    QVariant stored(const QString& column, const QString& code)
    {
        return sqlca().selectValue(QStringLiteral("SELECT %1 FROM s_zbbm WHERE number = ?").arg(column),
                                   {code});
    }

    std::unique_ptr<FakeHost> host;
    ScriptedMessageService box;
    ScopedMessages scoped{&box};
    QTemporaryDir printDir;
    QList<QPointer<w_guide_set>> windows;
};

TEST_P(CatalogueScreenTest, OpensOnTheCatalogueAndListsItInItsGrid)
{
    // An empty catalogue shows title and header only.
    w_guide_set* w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->objectName(), QStringLiteral("w_guide_set"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("统计指标管理"));
    EXPECT_EQ(host->gdw_share, w->m_dw_1);
    EXPECT_NE(qobject_cast<m_guide_set*>(w->menu()), nullptr);
    EXPECT_EQ(grid(w).transObject(), &sqlca());
    EXPECT_EQ(grid(w).RowCount(), 0);
    EXPECT_EQ(w->m_dw_1->title(), QStringLiteral("禾岚统计指标"));
    QAbstractItemModel* m = w->m_dw_1->table()->model();
    QStringList headers;
    for (int c = 0; c < m->columnCount(); ++c)
        headers << m->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers,
              (QStringList{QStringLiteral("序号"), QStringLiteral("编码"), QStringLiteral("指标类型"),
                           QStringLiteral("指标名称"), QStringLiteral("指标描述")}));
    EXPECT_EQ(host->count(QStringLiteral("uf_open")), 1);
    EXPECT_TRUE(box.shown().isEmpty());

    // Rows of the catalogue; numbers and the tint follow the shown order after a sort.
    fill(5);
    w = open();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(grid(w).RowCount(), 5);
    grid(w).SetSort(QStringLiteral("number desc"));
    grid(w).Sort();
    m = w->m_dw_1->table()->model();
    EXPECT_EQ(m->index(0, 0).data().toString(), QStringLiteral("1"));
    EXPECT_EQ(m->index(0, 1).data().toString(), QStringLiteral("0005"));
    EXPECT_EQ(m->index(4, 0).data().toString(), QStringLiteral("5"));
    const QColor tint = QColor::fromRgb(qRgb(255, 235, 255));
    EXPECT_EQ(m->index(0, 3).data(Qt::BackgroundRole).value<QColor>(), tint);
    EXPECT_EQ(m->index(1, 3).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    EXPECT_EQ(m->index(2, 3).data(Qt::BackgroundRole).value<QColor>(), tint);

    // A failing query leaves the grid empty without a message of the screen's own.
    db->exec(QStringLiteral("ALTER TABLE s_zbbm RENAME TO s_zbbm_gone"));
    const auto shown = box.shown().size();
    w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(grid(w).RowCount(), 0);
    EXPECT_EQ(box.shown().size(), shown);
}

TEST_P(CatalogueScreenTest, TypingStopsAtTheLimitsAndLongDescriptionsSurviveAVisit)
{
    fill(3);
    db->exec(QStringLiteral("UPDATE s_zbbm SET zbms = ? WHERE number = ?"), {kLong, QStringLiteral("0002")});
    w_guide_set* w = open();
    ASSERT_NE(w, nullptr);
    w->resize(1300, 700);
    QCoreApplication::processEvents();
    QTableView* t = w->m_dw_1->table();
    QAbstractItemModel* m = t->model();
    const int row = int(rowOf(w, QStringLiteral("0002"))) - 1;
    ASSERT_GE(row, 0);

    // Click into the 120-character description, tab out: whole, and nothing to save.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualRect(m->index(row, 4)).center());
    auto* editor = t->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), kLong);
    QTest::keyClick(editor, Qt::Key_Tab);
    processDeletes();
    EXPECT_EQ(grid(w).GetItemString(row + 1, QStringLiteral("zbms")), kLong);
    EXPECT_EQ(grid(w).ModifiedCount(), 0);
    menu(w)->m_save->click();
    EXPECT_TRUE(box.shown().isEmpty()) << "nothing to save";
    EXPECT_EQ(stored(QStringLiteral("zbms"), QStringLiteral("0002")).toString(), kLong);

    // The tab order is code, type, name, description; typing stops at 4, 50, 50 and 80.
    t->setCurrentIndex(m->index(0, 1));
    t->edit(m->index(0, 1));
    const QList<int> limits{4, 50, 50, 80};
    for (int i = 0; i < limits.size(); ++i) {
        editor = t->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr) << i;
        EXPECT_EQ(t->currentIndex().column(), i + 1);
        editor->selectAll();
        typeText(editor, QString(limits[i] + 5, QChar(u'码')));
        EXPECT_EQ(editor->text().size(), limits[i]) << i;
        QTest::keyClick(editor, Qt::Key_Tab);
        processDeletes();
    }
    EXPECT_EQ(t->currentIndex().row(), 1) << "on to the next row";
}

TEST_P(CatalogueScreenTest, OnAScreen1024WideEveryColumnShowsAndTabKeepsTheCodeInView)
{
    fill(30);
    w_guide_set* w = open();
    ASSERT_NE(w, nullptr);
    // What the window gets of a 1024 by 768 screen.
    w->resize(1016, 700);
    QCoreApplication::processEvents();
    QTableView* t = w->m_dw_1->table();
    EXPECT_EQ(t->horizontalScrollBar()->maximum(), 0) << "no horizontal scroll";
    QAbstractItemModel* m = t->model();
    for (int c = 0; c < m->columnCount(); ++c)
        EXPECT_TRUE(t->viewport()->rect().contains(t->visualRect(m->index(0, c))))
            << m->headerData(c, Qt::Horizontal).toString().toStdString();
    // From the description of one row, Tab goes on to the code of the next, in view.
    t->setCurrentIndex(m->index(2, 4));
    t->edit(m->index(2, 4));
    auto* editor = t->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Tab);
    processDeletes();
    EXPECT_EQ(t->currentIndex(), m->index(3, 1));
    EXPECT_TRUE(t->viewport()->rect().contains(t->visualRect(t->currentIndex())));
    // The long descriptions are whole in their tips.
    EXPECT_EQ(m->index(1, 4).data(Qt::ToolTipRole).toString(), kLong);
}

TEST_P(CatalogueScreenTest, SavedEditsAreThereOnReopenAndFailedSavesWriteNothing)
{
    fill(5);
    w_guide_set* w = open();
    ASSERT_NE(w, nullptr);
    const long r2 = rowOf(w, QStringLiteral("0002"));
    ASSERT_EQ(grid(w).SetText(r2, QStringLiteral("zbmc"), QStringLiteral("借款余额")), 1);
    menu(w)->m_save->click();
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].text, QStringLiteral("保存成功"));
    w->close();
    processDeletes();
    EXPECT_EQ(box.shown().size(), 1) << "nothing left to ask about";
    w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(grid(w).GetItemString(rowOf(w, QStringLiteral("0002")), QStringLiteral("zbmc")),
              QStringLiteral("借款余额"));

    // A code given twice: said in words that name the rows; nothing written, edits kept.
    box.clear();
    const long r1 = rowOf(w, QStringLiteral("0001"));
    const long r3 = rowOf(w, QStringLiteral("0003"));
    const long r4 = rowOf(w, QStringLiteral("0004"));
    ASSERT_EQ(grid(w).SetText(r1, QStringLiteral("zbmc"), QStringLiteral("改过")), 1);
    ASSERT_EQ(grid(w).SetText(r3, QStringLiteral("number"), QStringLiteral("0004")), 1);
    menu(w)->m_save->click();
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].title, QString());
    EXPECT_EQ(box.shown()[0].text,
              QStringLiteral("第%1行和第%2行的编码都是“0004”。编码不能重复，请修改后再保存。")
                  .arg(std::min(r3, r4))
                  .arg(std::max(r3, r4)));
    EXPECT_EQ(grid(w).ModifiedCount(), 2);
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(stored(QStringLiteral("zbmc"), QStringLiteral("0001")).toString(), QStringLiteral("指标1"));

    // An empty code names the row and its indicator.
    ASSERT_EQ(grid(w).SetText(r3, QStringLiteral("number"), QStringLiteral("")), 1);
    menu(w)->m_save->click();
    ASSERT_EQ(box.shown().size(), 2);
    EXPECT_EQ(box.shown()[1].text,
              QStringLiteral("第%1行（指标名称“指标3”）没有填写编码。每个指标都要有编码，请填写后再保存。")
                  .arg(r3));

    // A row another user removed meanwhile: the save says so and writes nothing.
    ASSERT_EQ(grid(w).SetText(r3, QStringLiteral("number"), QStringLiteral("0003")), 1);
    ASSERT_EQ(grid(w).SetText(r4, QStringLiteral("zbms"), QStringLiteral("新说明")), 1);
    auto other = db->connectAgain();
    ASSERT_TRUE(
        other->execute(QStringLiteral("DELETE FROM s_zbbm WHERE number = ?"), {QStringLiteral("0004")}));
    menu(w)->m_save->click();
    ASSERT_EQ(box.shown().size(), 3);
    EXPECT_NE(box.shown()[2].text, QStringLiteral("保存成功"));
    EXPECT_TRUE(box.shown()[2].text.contains(QStringLiteral("“0004”"))) << box.shown()[2].text.toStdString();
    EXPECT_EQ(stored(QStringLiteral("zbmc"), QStringLiteral("0001")).toString(), QStringLiteral("指标1"));
    EXPECT_EQ(grid(w).ModifiedCount(), 2);
}

TEST_P(CatalogueScreenTest, ClosingWithUnsavedEditsAsksYesNoOrCancelAsTheSchemeEditorDoes)
{
    fill(4);
    w_guide_set* w = open();
    ASSERT_NE(w, nullptr);
    QPointer<w_guide_set> alive(w);
    const long r1 = rowOf(w, QStringLiteral("0001"));
    ASSERT_EQ(grid(w).SetText(r1, QStringLiteral("zbmc"), QStringLiteral("未保存")), 1);

    // 取消: the window stays with the edit.
    box.answer(msg::Cancel);
    menu(w)->m_exit->click();
    processDeletes();
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].title, QString());
    EXPECT_EQ(box.shown()[0].text, QStringLiteral("统计指标已修改，请确认是否保存？"));
    EXPECT_EQ(box.shown()[0].icon, msg::Icon::Question);
    EXPECT_EQ(box.shown()[0].buttons, msg::Buttons::YesNoCancel);
    ASSERT_TRUE(alive && alive->isVisible());
    EXPECT_EQ(grid(w).ModifiedCount(), 1);

    // 是 with a save that fails: the database's text, the window stays, nothing written.
    const long r2 = rowOf(w, QStringLiteral("0002"));
    ASSERT_EQ(grid(w).SetText(r2, QStringLiteral("number"), QStringLiteral("0001")), 1);
    box.answer(msg::Yes);
    menu(w)->m_exit->click();
    processDeletes();
    ASSERT_EQ(box.shown().size(), 3);
    EXPECT_TRUE(box.shown()[2].text.contains(QStringLiteral("编码不能重复")))
        << box.shown()[2].text.toStdString();
    ASSERT_TRUE(alive && alive->isVisible());
    EXPECT_EQ(stored(QStringLiteral("zbmc"), QStringLiteral("0001")).toString(), QStringLiteral("指标1"));

    // 是 that succeeds: written, committed, closed without a further word.
    ASSERT_EQ(grid(w).SetText(r2, QStringLiteral("number"), QStringLiteral("0002")), 1);
    box.answer(msg::Yes);
    w->close();
    processDeletes();
    EXPECT_FALSE(alive) << "closed";
    EXPECT_EQ(box.shown().size(), 4);
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(db->connectAgain()
                  ->selectValue(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"),
                                {QStringLiteral("0001")})
                  .toString(),
              QStringLiteral("未保存"));

    // 否: closed, the edit dropped.
    w = open();
    alive = w;
    ASSERT_EQ(
        grid(w).SetText(rowOf(w, QStringLiteral("0003")), QStringLiteral("zbmc"), QStringLiteral("丢弃")), 1);
    box.answer(msg::No);
    w->close();
    processDeletes();
    EXPECT_FALSE(alive);
    EXPECT_EQ(box.shown().size(), 5);
    EXPECT_EQ(stored(QStringLiteral("zbmc"), QStringLiteral("0003")).toString(), QStringLiteral("指标3"));
}

TEST_P(CatalogueScreenTest, PrintsAndExportsTheWholeCatalogue)
{
    fill(300);
    w_guide_set* w = open();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(grid(w).RowCount(), 300);
    EXPECT_GE(GridPrinter(grid(w)).pageCount(), 5) << "300 rows over several pages";

    // Print without a printer: a PDF named after the title.
    menu(w)->m_print->click();
    const QStringList pdfs = QDir(printDir.path()).entryList({QStringLiteral("*.pdf")});
    ASSERT_EQ(pdfs.size(), 1);
    EXPECT_GT(QFileInfo(QDir(printDir.path()).filePath(pdfs[0])).size(), 10000);

    // The menu's export hands the host this grid; the workbook holds the title and whole descriptions.
    menu(w)->m_excel->click();
    EXPECT_EQ(host->excel, (QList<QPointer<GridView>>{w->m_dw_1}));
    const QString xlsx = printDir.filePath(QStringLiteral("catalogue.xlsx"));
    ASSERT_TRUE(writeXlsx(grid(w), xlsx).ok);
    const QString strings = QString::fromUtf8(zipPart(xlsx, QStringLiteral("xl/sharedStrings.xml")));
    EXPECT_TRUE(strings.contains(QStringLiteral("禾岚统计指标")));
    EXPECT_TRUE(strings.contains(QStringLiteral("指标描述")));
    EXPECT_TRUE(strings.contains(kLong)) << "the long description whole";
    EXPECT_TRUE(strings.contains(QStringLiteral("指标300")));
}

ALLSTATS_ON_ALL_BACKENDS(CatalogueScreenTest);

} // namespace
