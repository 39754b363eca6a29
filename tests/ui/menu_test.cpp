// SPDX-License-Identifier: GPL-3.0-or-later
// The two menus on real windows and a real database: the report menu's toggles
// (per window), its print with the region's ReportPrint setting, the query-area
// toggle, the export of every grid; the catalogue menu's save and preview.
#include "foundation/ui/messages.h"
#include "testwindows.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

class MenuTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        host = std::make_unique<FakeHost>(sqlca());
        host->gs_userqybm = QStringLiteral("410102003004");
        GridView::setPrintFolder(printDir.path());
        insertIndicators(*db, 5);
    }
    void TearDown() override
    {
        GridView::setPrintFolder(QString());
        BackendTest::TearDown();
    }

    TestScreen* openScreen(TestScreen::MenuKind kind = TestScreen::MenuKind::Report, bool twoGrids = false)
    {
        auto* w =
            new TestScreen(*host, 25,
                           kind == TestScreen::MenuKind::Guide ? ModuleWindow::ShareOrder::ShareThenMenu
                                                               : ModuleWindow::ShareOrder::MenuThenShare,
                           kind, twoGrids);
        EXPECT_TRUE(w->Open());
        w->grid->Retrieve();
        windows.emplace_back(w);
        return w;
    }
    static m_report* reportMenu(TestScreen* w) { return static_cast<m_report*>(w->menu()); }
    static m_guide_set* guideMenu(TestScreen* w) { return static_cast<m_guide_set*>(w->menu()); }

    QStringList printedFiles() const { return QDir(printDir.path()).entryList({QStringLiteral("*.pdf")}); }

    std::unique_ptr<FakeHost> host;
    ScriptedMessageService box;
    ScopedMessages scoped{&box};
    QTemporaryDir printDir;
    std::vector<std::unique_ptr<TestScreen>> windows;
};

struct ItemState
{
    QString text;
    bool checked;
    bool down;
};

void expectItem(MenuItem* item, const ItemState& s)
{
    EXPECT_EQ(item->Text(), s.text);
    EXPECT_EQ(item->Checked(), s.checked) << item->name().toStdString();
    EXPECT_EQ(item->ToolbarItemDown(), s.down) << item->name().toStdString();
    EXPECT_EQ(item->toolbarAction()->isChecked(), s.down) << "the button shows the pressed state";
    EXPECT_EQ(item->menuAction()->text(), s.text);
}

TEST_P(MenuTest, ReportMenuItemsAreCreatedAsTheMenuDefinesThem)
{
    TestScreen* w = openScreen();
    m_report* m = reportMenu(w);
    QStringList names, texts, toolbarTexts, help;
    for (MenuItem* i : m->items()) {
        names << i->name();
        texts << i->Text();
        toolbarTexts << i->toolbarAction()->iconText();
        help << i->definition().microHelp;
        EXPECT_FALSE(i->Checked());
        EXPECT_FALSE(i->ToolbarItemDown());
        EXPECT_TRUE(i->Enabled());
        EXPECT_FALSE(i->toolbarAction()->icon().isNull()) << i->name().toStdString();
    }
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("m_excel"), QStringLiteral("m_打印"), QStringLiteral("m_preview"),
                           QStringLiteral("m_rowbgcolor"), QStringLiteral("m_printvh"),
                           QStringLiteral("m_yccxq"), QStringLiteral("m_退出")}));
    EXPECT_EQ(texts, (QStringList{QStringLiteral("另存为..."), QStringLiteral("打印\tCtrl+P"),
                                  QStringLiteral("打印预缆\tCtrl+V"), QStringLiteral("取消行背景色"),
                                  QStringLiteral("纵向横向打印"), QStringLiteral("隐藏查询区"),
                                  QStringLiteral("退出\tCtrl+X")}));
    EXPECT_EQ(toolbarTexts, (QStringList{QStringLiteral("另存为Excel文件"), QStringLiteral("打印"),
                                         QStringLiteral("打印预览"), QStringLiteral("显示或取消行背景色"),
                                         QStringLiteral("横向或纵向打印选择"), QStringLiteral("隐藏查询区"),
                                         QStringLiteral("退出")}));
    EXPECT_EQ(help[0], QStringLiteral("保存为Excel文件"));
    EXPECT_EQ(help[6], QStringLiteral("退出本窗口"));
    EXPECT_EQ(m->m_preview->menuAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_V));
    EXPECT_EQ(m->m_exit->menuAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
    // Micro-help goes to the window's status line when the pointer rests on an item.
    m->m_exit->menuAction()->showStatusText(w);
    EXPECT_EQ(w->statusBar()->currentMessage(), QStringLiteral("退出本窗口"));
    m->m_excel->toolbarAction()->showStatusText(w);
    EXPECT_EQ(w->statusBar()->currentMessage(), QStringLiteral("保存为Excel文件"));
    EXPECT_EQ(m->m_rowbgcolor->definition().toolbarDownPicture, QStringLiteral(".\\pic\\bgColorR.bmp"));
    ASSERT_NE(m->toolBar(), nullptr);
    EXPECT_EQ(m->toolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(m->toolBar()->actions().size(), 7);
}

TEST_P(MenuTest, ReportTogglesUpdateTheItemThenTheGridAndBelongToTheirWindow)
{
    TestScreen* a = openScreen();
    TestScreen* b = openScreen();
    m_report* ma = reportMenu(a);
    m_report* mb = reportMenu(b);

    ma->m_preview->click();
    expectItem(ma->m_preview, {QStringLiteral("取消预缆"), true, true});
    EXPECT_TRUE(a->grid->buffer().preview);
    EXPECT_FALSE(a->grid->buffer().previewOutline);
    EXPECT_TRUE(a->grid->previewShown());
    expectItem(mb->m_preview, {QStringLiteral("打印预缆\tCtrl+V"), false, false});
    EXPECT_FALSE(b->grid->buffer().preview) << "the other window is untouched";
    ma->m_preview->click();
    expectItem(ma->m_preview, {QStringLiteral("打印预缆"), false, false});
    EXPECT_FALSE(a->grid->buffer().preview);
    EXPECT_FALSE(a->grid->buffer().previewOutline) << "the outline stays off";
    EXPECT_FALSE(a->grid->previewShown());

    ma->m_rowbgcolor->click();
    expectItem(ma->m_rowbgcolor, {QStringLiteral("显示行背景色"), true, true});
    EXPECT_FALSE(a->grid->buffer().rowColors());
    ma->m_rowbgcolor->click();
    expectItem(ma->m_rowbgcolor, {QStringLiteral("取消行背景色"), false, false});
    EXPECT_TRUE(a->grid->buffer().rowColors());
    ASSERT_EQ(host->bgcolor.size(), 2);
    EXPECT_EQ(host->bgcolor[0].flag, 1);
    EXPECT_EQ(host->bgcolor[1].flag, 0);
    EXPECT_EQ(host->bgcolor[0].grid, a->grid);

    // The first click chooses landscape whatever the layout said.
    b->grid->buffer().setOrientation(1);
    mb->m_printvh->click();
    expectItem(mb->m_printvh, {QStringLiteral("横向打印"), true, true});
    EXPECT_EQ(b->grid->buffer().orientation, 1);
    mb->m_printvh->click();
    expectItem(mb->m_printvh, {QStringLiteral("纵向打印"), false, false});
    EXPECT_EQ(b->grid->buffer().orientation, 2);
    expectItem(ma->m_printvh, {QStringLiteral("纵向横向打印"), false, false});
    EXPECT_EQ(a->grid->buffer().orientation, 2);

    // The toolbar button and the menu entry run the same command.
    ma->m_printvh->toolbarAction()->trigger();
    expectItem(ma->m_printvh, {QStringLiteral("横向打印"), true, true});
    ma->m_printvh->menuAction()->trigger();
    expectItem(ma->m_printvh, {QStringLiteral("纵向打印"), false, false});
}

TEST_P(MenuTest, QueryAreaToggleCoversThePanelAndGivesTheWidthBack)
{
    TestScreen* w = openScreen();
    w->show();
    m_report* m = reportMenu(w);
    const int before = w->grid->width();
    m->m_yccxq->click();
    expectItem(m->m_yccxq, {QStringLiteral("打开查询区"), true, true});
    EXPECT_GE(w->grid->geometry().right(), w->gb_1->geometry().right()) << "the grid covers the query column";
    EXPECT_TRUE(w->grid->broughtToTop());
    QWidget* onTop = w->client()->childAt(w->em_1->geometry().center());
    EXPECT_TRUE(onTop == w->grid || w->grid->isAncestorOf(onTop)) << "the query fields lie under the grid";
    m->m_yccxq->click();
    expectItem(m->m_yccxq, {QStringLiteral("隐藏查询区"), false, false});
    EXPECT_EQ(w->grid->width(), before);
    EXPECT_TRUE(w->grid->broughtToTop()) << "showing the panel does not lower the grid";

    // After the window was resized the width still matches the new scale.
    w->resize(1600, 1000);
    QCoreApplication::processEvents();
    const int resized = w->grid->width();
    m->m_yccxq->click();
    EXPECT_GE(w->grid->geometry().right(), w->gb_1->geometry().right());
    w->resize(1300, 800); // resized while hidden: still covering
    QCoreApplication::processEvents();
    EXPECT_GE(w->grid->geometry().right(), w->gb_1->geometry().right());
    m->m_yccxq->click();
    EXPECT_LT(w->grid->geometry().right(), w->gb_1->geometry().left());
    w->resize(1600, 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->grid->width(), resized);
}

TEST_P(MenuTest, PrintTakesTheRowColourOffOnlyForATrimmedZero)
{
    struct Case
    {
        const char16_t* label;
        QVariant value; // invalid: no row at all
        bool takesColourOff;
    };
    const QList<Case> cases = {
        {u"blanks around 0", QStringLiteral(" 0 "), true},
        {u"0", QStringLiteral("0"), true},
        {u"00", QStringLiteral("00"), false},
        {u"1", QStringLiteral("1"), false},
        {u"empty", QStringLiteral(""), false},
        {u"null", QVariant(QMetaType::fromType<QString>()), false},
        {u"no row", QVariant(), false},
    };
    TestScreen* w = openScreen();
    m_report* m = reportMenu(w);
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.label).toStdString());
        db->exec(QStringLiteral("DELETE FROM s_sysset"));
        // Another region's setting must not count.
        db->exec(QStringLiteral("INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (?, ?, ?)"),
                 {QStringLiteral("99"), QStringLiteral("ReportPrint"), QStringLiteral("0")});
        if (c.value.isValid())
            db->exec(QStringLiteral("INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (?, ?, ?)"),
                     {host->gs_userqybm, QStringLiteral("ReportPrint"), c.value});
        host->bgcolor.clear();
        w->grid->setRowColors(true);
        const int filesBefore = int(printedFiles().size());
        m->m_print->click();
        EXPECT_EQ(host->bgcolor.size(), c.takesColourOff ? 1 : 0);
        if (c.takesColourOff) {
            EXPECT_EQ(host->bgcolor[0].flag, 1);
        }
        EXPECT_EQ(w->grid->buffer().rowColors(), !c.takesColourOff);
        EXPECT_EQ(printedFiles().size(), filesBefore + 1) << "it prints whatever the setting";
        expectItem(m->m_rowbgcolor, {QStringLiteral("取消行背景色"), false, false});
    }
}

TEST_P(MenuTest, TwoPrintsInARowTakeTheColourOffTwiceAndLeaveItOff)
{
    db->exec(QStringLiteral("INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (?, ?, ?)"),
             {host->gs_userqybm, QStringLiteral("ReportPrint"), QStringLiteral("0")});
    TestScreen* w = openScreen();
    m_report* m = reportMenu(w);
    m->m_preview->click();
    m->m_print->click();
    m->m_print->click();
    ASSERT_EQ(host->bgcolor.size(), 2);
    EXPECT_EQ(host->bgcolor[1].flag, 1);
    EXPECT_FALSE(w->grid->buffer().rowColors());
    EXPECT_EQ(printedFiles().size(), 2) << "two files, not one overwritten";
    EXPECT_TRUE(w->grid->buffer().preview) << "printing leaves the preview as it was";
    expectItem(m->m_preview, {QStringLiteral("取消预缆"), true, true});
    ASSERT_EQ(box.shown().size(), 2);
    EXPECT_TRUE(box.shown()[1].text.contains(QFileInfo(w->grid->lastPrintTarget()).fileName()));
}

TEST_P(MenuTest, ExportGoesToEveryGridButTheOtherCommandsOnlyToTheFirst)
{
    TestScreen* w = openScreen(TestScreen::MenuKind::Report, true);
    m_report* m = reportMenu(w);
    m->m_excel->click();
    ASSERT_EQ(host->excel.size(), 2);
    EXPECT_EQ(host->excel[0], w->grid);
    EXPECT_EQ(host->excel[1], w->second);
    m->m_preview->click();
    m->m_printvh->click();
    EXPECT_TRUE(w->grid->buffer().preview);
    EXPECT_FALSE(w->second->buffer().preview);
    EXPECT_EQ(w->second->buffer().orientation, 2);
}

TEST_P(MenuTest, ExitClosesOnlyItsOwnWindowThroughTheCloseQuery)
{
    auto* keep = new TestScreen(*host, 0, ModuleWindow::ShareOrder::MenuThenShare);
    ASSERT_TRUE(keep->Open());
    QPointer<TestScreen> other = new TestScreen(*host, 0, ModuleWindow::ShareOrder::MenuThenShare);
    ASSERT_TRUE(other->Open());
    keep->show();
    other->show();
    keep->closeAnswer = 1;
    static_cast<m_report*>(keep->menu())->m_exit->click();
    processDeletes();
    EXPECT_TRUE(keep->isVisible()) << "the close query kept it";
    static_cast<m_report*>(other->menu())->m_exit->click();
    processDeletes();
    EXPECT_FALSE(other);
    keep->closeAnswer = 0;
    delete keep;
}

TEST_P(MenuTest, ShortcutsBelongToTheMenuEvenInAnEditField)
{
    TestScreen* w = openScreen();
    m_report* m = reportMenu(w);
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    w->em_1->setText(QStringLiteral("4101"));
    w->em_1->setFocus();
    w->em_1->selectAll();
    QApplication::clipboard()->setText(QStringLiteral("粘贴"));
    QTest::keyClick(w->em_1, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(m->m_preview->Checked()) << "Ctrl+V previews";
    EXPECT_EQ(w->em_1->text(), QStringLiteral("4101")) << "and does not paste";
    w->closeAnswer = 1;
    QTest::keyClick(w->em_1, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(host->calls.count(QStringLiteral("closeQuery")), 1) << "Ctrl+X closes the window";
    EXPECT_EQ(w->em_1->text(), QStringLiteral("4101")) << "and does not cut";
    QTest::keyClick(w->em_1, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(printedFiles().size(), 1);
}

TEST_P(MenuTest, CatalogueSaveWithoutChangesTouchesNothing)
{
    TestScreen* w = openScreen(TestScreen::MenuKind::Guide);
    ASSERT_EQ(host->gdw_share, w->grid);
    sqlca().SQLCode = 42; // anything a statement would overwrite
    guideMenu(w)->m_save->click();
    EXPECT_EQ(sqlca().SQLCode, 42) << "no statement ran";
    EXPECT_TRUE(box.shown().isEmpty());
}

TEST_P(MenuTest, CatalogueSaveWritesCommitsAndSaysSo)
{
    TestScreen* w = openScreen(TestScreen::MenuKind::Guide);
    GridBuffer& b = w->grid->buffer();
    ASSERT_EQ(b.RowCount(), 5);
    ASSERT_EQ(b.SetText(2, QStringLiteral("zbmc"), QStringLiteral("借款余额")), 1);
    guideMenu(w)->m_save->click();
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].title, QString());
    EXPECT_EQ(box.shown()[0].text, QStringLiteral("保存成功"));
    EXPECT_EQ(box.shown()[0].icon, msg::Icon::Information);
    EXPECT_EQ(b.ModifiedCount(), 0);
    EXPECT_FALSE(sqlca().inTransaction());
    auto other = db->connectAgain();
    EXPECT_EQ(other
                  ->selectValue(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"),
                                {QStringLiteral("0002")})
                  .toString(),
              QStringLiteral("借款余额"))
        << "committed: another user sees it";
}

TEST_P(MenuTest, CatalogueSaveThatFailsShowsTheDatabaseErrorAndKeepsTheEdits)
{
    TestScreen* w = openScreen(TestScreen::MenuKind::Guide);
    GridBuffer& b = w->grid->buffer();
    // Two rows with the same code: the key refuses the second update.
    ASSERT_EQ(b.SetText(1, QStringLiteral("zbmc"), QStringLiteral("改过")), 1);
    ASSERT_EQ(b.SetText(3, QStringLiteral("number"), QStringLiteral("0004")), 1);
    guideMenu(w)->m_save->click();
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].title, QString());
    EXPECT_NE(box.shown()[0].text, QStringLiteral("保存成功"));
    EXPECT_FALSE(box.shown()[0].text.isEmpty()) << "the database's own error text";
    EXPECT_EQ(b.ModifiedCount(), 2) << "the edits stay for another try";
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(
        sqlca()
            .selectValue(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"), {QStringLiteral("0001")})
            .toString(),
        QStringLiteral("指标1"))
        << "nothing half-written";
}

TEST_P(MenuTest, CataloguePreviewOffSwitchesOutlineAndRulersOff)
{
    TestScreen* w = openScreen(TestScreen::MenuKind::Guide);
    m_guide_set* m = guideMenu(w);
    w->grid->buffer().setPreviewRulers(true);
    m->m_preview->click();
    expectItem(m->m_preview, {QStringLiteral("取消预缆"), true, true});
    EXPECT_TRUE(w->grid->buffer().preview);
    EXPECT_FALSE(w->grid->buffer().previewOutline);
    m->m_print->click();
    EXPECT_TRUE(w->grid->buffer().preview) << "printing leaves the preview alone";
    expectItem(m->m_preview, {QStringLiteral("取消预缆"), true, true});
    m->m_preview->click();
    expectItem(m->m_preview, {QStringLiteral("打印预缆"), false, false});
    EXPECT_FALSE(w->grid->buffer().preview);
    EXPECT_FALSE(w->grid->buffer().previewOutline);
    EXPECT_FALSE(w->grid->buffer().previewRulers);
    m->m_excel->click();
    EXPECT_EQ(host->excel, (QList<QPointer<GridView>>{w->grid}));
    EXPECT_EQ(m->m_excel->menuAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
}

ALLSTATS_ON_ALL_BACKENDS(MenuTest);

} // namespace
