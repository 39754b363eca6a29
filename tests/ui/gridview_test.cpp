// SPDX-License-Identifier: GPL-3.0-or-later
// The grid view over a real buffer: what the cells show, editing through the
// buffer's user-edit path (hooks, limits, check boxes), the tab order, the
// in-place preview and printing without a printer.
#include "foundation/ui/gridview_p.h"
#include "foundation/ui/messages.h"
#include "testwindows.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

class GridViewTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        insertIndicators(*db, 6);
        view = std::make_unique<GridView>(QStringLiteral("dw_1"), catalogueWithCheckBoxes());
        view->SetTransObject(&sqlca());
        view->resize(900, 500);
        ASSERT_EQ(view->Retrieve(), 6);
    }
    QAbstractItemModel* model() const { return view->table()->model(); }
    QModelIndex cell(int row, const QString& header) const
    {
        for (int c = 0; c < model()->columnCount(); ++c)
            if (model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() == header)
                return model()->index(row, c);
        return {};
    }

    std::unique_ptr<GridView> view;
    ScriptedMessageService box;
    ScopedMessages scoped{&box};
};

TEST_P(GridViewTest, ShowsRowNumbersHeadersAndRowColoursFromTheBuffer)
{
    EXPECT_EQ(view->objectName(), QStringLiteral("dw_1"));
    ASSERT_EQ(model()->rowCount(), 6);
    EXPECT_EQ(model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("序号"));
    EXPECT_EQ(model()->index(2, 0).data().toString(), QStringLiteral("3"));
    EXPECT_EQ(cell(1, QStringLiteral("指标名称")).data().toString(), QStringLiteral("指标2"));
    // Odd rows tinted in this layout; switched off they are all white.
    const QColor tint = QColor::fromRgb(qRgb(255, 235, 255));
    EXPECT_EQ(model()->index(0, 1).data(Qt::BackgroundRole).value<QColor>(), tint);
    EXPECT_EQ(model()->index(1, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    view->setRowColors(false);
    EXPECT_EQ(model()->index(0, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    // A filter renumbers the shown rows and their colours follow the new positions.
    view->setRowColors(true);
    view->buffer().SetFilter(QStringLiteral("flag2 = 0"));
    view->buffer().Filter();
    ASSERT_EQ(model()->rowCount(), 3);
    EXPECT_EQ(cell(0, QStringLiteral("指标名称")).data().toString(), QStringLiteral("指标2"));
    EXPECT_EQ(model()->index(0, 1).data(Qt::BackgroundRole).value<QColor>(), tint);
    // Hidden columns are not shown.
    for (int c = 0; c < model()->columnCount(); ++c)
        EXPECT_FALSE(model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().isEmpty());
}

TEST_P(GridViewTest, FiguresAreRightAlignedAndMasked)
{
    GridLayout l;
    l.name = QStringLiteral("d_figures");
    l.query =
        QStringLiteral("SELECT zbbm, qichu, flag2 FROM (SELECT zbbm, qichu, "
                       "CASE WHEN zbbm = '0001' THEN 1 ELSE 0 END AS flag2 FROM t_stat) x ORDER BY zbbm");
    GridColumn name;
    name.name = QStringLiteral("zbbm");
    name.header = QStringLiteral("项目");
    GridColumn fig;
    fig.name = QStringLiteral("qichu");
    fig.type = ColumnType::Decimal;
    fig.header = QStringLiteral("期初数");
    fig.maskByColumn = QStringLiteral("flag2");
    GridColumn flag;
    flag.name = QStringLiteral("flag2");
    flag.type = ColumnType::Number;
    flag.visible = false;
    l.columns << name << fig << flag;
    db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, hh, qichu) VALUES (?, ?, ?), (?, ?, ?), (?, ?, ?)"),
             {QStringLiteral("0001"), 10, QStringLiteral("0.125"), QStringLiteral("0002"), 20,
              QStringLiteral("1.625"), QStringLiteral("0003"), 30, QVariant()});
    GridView v(QStringLiteral("dw_1"), l);
    v.SetTransObject(&sqlca());
    ASSERT_EQ(v.Retrieve(), 3);
    QAbstractItemModel* m = v.table()->model();
    ASSERT_EQ(m->columnCount(), 3) << "row number, item, figure";
    EXPECT_EQ(m->index(0, 2).data().toString(), QStringLiteral("13%"));
    EXPECT_EQ(m->index(1, 2).data().toString(), QStringLiteral("1.63"));
    EXPECT_EQ(m->index(2, 2).data().toString(), QString());
    EXPECT_EQ(m->index(0, 2).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
              int(Qt::AlignRight));
    EXPECT_EQ(m->index(0, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
              int(Qt::AlignLeft));
}

TEST_P(GridViewTest, EditsGoThroughTheItemChangedHookAndCanBeRefused)
{
    QStringList seen;
    view->buffer().itemChanged = [&](long row, const QString& column, const QVariant& oldValue,
                                     const QVariant& newValue) {
        seen << QStringLiteral("%1 %2 %3>%4").arg(row).arg(column, oldValue.toString(), newValue.toString());
        return newValue.toString() != QStringLiteral("拒绝");
    };
    const QModelIndex name = cell(1, QStringLiteral("指标名称"));
    EXPECT_TRUE(model()->setData(name, QStringLiteral("借款余额"), Qt::EditRole));
    EXPECT_FALSE(model()->setData(name, QStringLiteral("拒绝"), Qt::EditRole));
    EXPECT_EQ(view->buffer().GetItemString(2, QStringLiteral("zbmc")), QStringLiteral("借款余额"));
    // An unchanged value is no edit.
    EXPECT_TRUE(model()->setData(name, QStringLiteral("借款余额"), Qt::EditRole));
    EXPECT_EQ(seen,
              (QStringList{QStringLiteral("2 zbmc 指标2>借款余额"), QStringLiteral("2 zbmc 借款余额>拒绝")}));
    EXPECT_EQ(view->buffer().ModifiedCount(), 1);

    // The check box column: ticked 1, cleared 0, through the same hook.
    const QModelIndex box1 = cell(0, QStringLiteral("百分比"));
    ASSERT_TRUE(model()->flags(box1) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model()->flags(box1) & Qt::ItemIsEditable);
    EXPECT_EQ(box1.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_TRUE(model()->setData(box1, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(view->buffer().GetItem(1, QStringLiteral("flag2")).toInt(), 0);
    EXPECT_TRUE(model()->setData(box1, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(view->buffer().GetItem(1, QStringLiteral("flag2")).toInt(), 1);
    EXPECT_EQ(seen.size(), 4);
    EXPECT_TRUE(seen[2].startsWith(QStringLiteral("1 flag2 1>0")));
}

TEST_P(GridViewTest, EditLimitStopsTypingButNeverCutsStoredText)
{
    // The description column holds 120 characters; typing stops at 80.
    const QString stored = QString(120, QChar(u'述'));
    db->exec(QStringLiteral("UPDATE s_zbbm SET zbms = ? WHERE number = ?"), {stored, QStringLiteral("0001")});
    ASSERT_EQ(view->Retrieve(), 6);
    view->resize(1400, 500);
    view->show();
    QTableView* t = view->table();
    const QModelIndex zbms = cell(0, QStringLiteral("指标描述"));
    auto openEditor = [&] { return t->findChild<QLineEdit*>(); };

    // Clicked into and tabbed out of: shown whole, kept whole, no edit.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualRect(zbms).center());
    QLineEdit* editor = openEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), stored);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_X);
    EXPECT_EQ(editor->text(), stored) << "no growth past the limit";
    QTest::keyClick(editor, Qt::Key_Tab);
    processDeletes();
    EXPECT_EQ(view->buffer().GetItemString(1, QStringLiteral("zbms")), stored);
    EXPECT_EQ(view->buffer().ModifiedCount(), 0);

    // Tabbed back into: still whole; it may shrink but not grow again.
    t->setCurrentIndex(zbms);
    t->edit(zbms);
    editor = openEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text().size(), 120);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, QStringLiteral("yz"));
    EXPECT_EQ(editor->text(), stored.left(119));
    ASSERT_EQ(view->buffer().AcceptText(), 1);
    EXPECT_EQ(view->buffer().GetItemString(1, QStringLiteral("zbms")), stored.left(119));
    processDeletes();

    // A short text takes typing up to the limit, pasted text included.
    const QModelIndex code = cell(1, QStringLiteral("编码"));
    t->setCurrentIndex(code);
    t->edit(code);
    editor = openEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("12345"));
    EXPECT_EQ(editor->text(), QStringLiteral("1234"));
    editor->selectAll();
    editor->insert(QStringLiteral("ABCDEFG"));
    EXPECT_EQ(editor->text(), QStringLiteral("ABCD"));
    ASSERT_EQ(view->buffer().AcceptText(), 1);
    EXPECT_EQ(view->buffer().GetItemString(2, QStringLiteral("number")), QStringLiteral("ABCD"));
}

TEST_P(GridViewTest, ValuesTheColumnCannotHoldAreRefusedAndKeptForCorrecting)
{
    GridLayout l;
    l.name = QStringLiteral("d_figures");
    l.query = QStringLiteral("SELECT zbbm, qichu, hh FROM t_stat ORDER BY zbbm");
    l.updateTable = QStringLiteral("t_stat");
    l.keyColumns = {QStringLiteral("zbbm")};
    auto col = [&](const char16_t* name, const char16_t* header, ColumnType type) {
        GridColumn c;
        c.name = QString::fromUtf16(name);
        c.source = c.name;
        c.header = QString::fromUtf16(header);
        c.type = type;
        c.editable = true;
        l.columns << c;
    };
    col(u"zbbm", u"编码", ColumnType::Text);
    col(u"qichu", u"期初数", ColumnType::Decimal);
    col(u"hh", u"行号", ColumnType::Integer);
    db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, hh) VALUES (?, ?, ?)"),
             {QStringLiteral("0001"), QStringLiteral("5.00"), 10});
    GridView v(QStringLiteral("dw_1"), l);
    v.SetTransObject(&sqlca());
    ASSERT_EQ(v.Retrieve(), 1);
    v.resize(700, 300);
    v.show();
    QTableView* t = v.table();
    auto typeInto = [&](int column, const QString& text) -> QLineEdit* {
        const QModelIndex i = t->model()->index(0, column);
        t->setCurrentIndex(i);
        t->edit(i);
        auto* editor = t->findChild<QLineEdit*>();
        if (editor)
            editor->setText(text);
        return editor;
    };

    // Letters in a figure: refused with a message, the text stays to be corrected.
    QLineEdit* editor = typeInto(2, QStringLiteral("12a"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(v.buffer().AcceptText(), -1);
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].title, QStringLiteral("提示信息"));
    EXPECT_TRUE(box.shown()[0].text.contains(QStringLiteral("第1行")) &&
                box.shown()[0].text.contains(QStringLiteral("期初数")) &&
                box.shown()[0].text.contains(QStringLiteral("12a")))
        << box.shown()[0].text.toStdString();
    EXPECT_EQ(t->findChild<QLineEdit*>(), editor);
    EXPECT_EQ(editor->text(), QStringLiteral("12a"));
    EXPECT_EQ(v.buffer().GetItemString(1, QStringLiteral("qichu")), QStringLiteral("5"));
    EXPECT_EQ(v.buffer().ModifiedCount(), 0);
    // Tab does not leave it either; corrected, it is stored.
    QTest::keyClick(editor, Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_EQ(box.shown().size(), 2);
    EXPECT_EQ(t->findChild<QLineEdit*>(), editor);
    EXPECT_EQ(t->currentIndex().column(), 2);
    editor->setText(QStringLiteral("12.5"));
    EXPECT_EQ(v.buffer().AcceptText(), 1);
    EXPECT_EQ(v.buffer().GetItemString(1, QStringLiteral("qichu")), QStringLiteral("12.5"));
    processDeletes();

    // A fraction in a whole-number column.
    editor = typeInto(3, QStringLiteral("1.5"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(v.buffer().AcceptText(), -1);
    ASSERT_EQ(box.shown().size(), 3);
    EXPECT_TRUE(box.shown()[2].text.contains(QStringLiteral("整数"))) << box.shown()[2].text.toStdString();
    EXPECT_EQ(v.buffer().GetItem(1, QStringLiteral("hh")).toInt(), 10);
    editor->setText(QStringLiteral("20"));
    EXPECT_EQ(v.buffer().AcceptText(), 1);
    EXPECT_EQ(v.buffer().GetItem(1, QStringLiteral("hh")).toInt(), 20);
}

TEST_P(GridViewTest, AnEmptiedTextCellIsStoredAsEmptyText)
{
    view->show();
    QTableView* t = view->table();
    const QModelIndex zbms = cell(2, QStringLiteral("指标描述"));
    t->setCurrentIndex(zbms);
    t->edit(zbms);
    auto* editor = t->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Delete);
    ASSERT_EQ(view->buffer().AcceptText(), 1);
    EXPECT_EQ(view->buffer().ModifiedCount(), 1);
    ASSERT_EQ(view->buffer().Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral("SELECT count(*) FROM s_zbbm WHERE number = ? AND zbms = ?"),
                               {QStringLiteral("0003"), QStringLiteral("")})
                  .toInt(),
              1);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_zbbm WHERE zbms IS NULL")).toInt(),
              0);
}

TEST_P(GridViewTest, AHookThatReordersTheRowsDuringAnEditStoresIntoTheEditedRow)
{
    // The scheme editor renumbers and re-sorts inside its item-changed handler.
    view->buffer().itemChanged = [&](long, const QString&, const QVariant&, const QVariant&) {
        view->buffer().SetSort(QStringLiteral("number desc"));
        view->buffer().Sort();
        return true;
    };
    view->show();
    QTableView* t = view->table();
    const QModelIndex name = cell(0, QStringLiteral("指标名称"));
    t->setCurrentIndex(name);
    t->edit(name);
    auto* editor = t->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("互助金总额"));
    ASSERT_EQ(view->buffer().AcceptText(), 1);
    QCoreApplication::processEvents();
    ASSERT_EQ(model()->rowCount(), 6);
    EXPECT_EQ(cell(5, QStringLiteral("编码")).data().toString(), QStringLiteral("0001"));
    EXPECT_EQ(cell(5, QStringLiteral("指标名称")).data().toString(), QStringLiteral("互助金总额"));
    EXPECT_EQ(cell(0, QStringLiteral("指标名称")).data().toString(), QStringLiteral("指标6"));
    processDeletes();
    EXPECT_EQ(t->findChild<QLineEdit*>(), nullptr) << "no editor left open on a moved row";
}

TEST_P(GridViewTest, TabWalksOnlyTheEditableCellsInLayoutOrder)
{
    // Make the code column read-only in this view's layout copy.
    GridLayout l = catalogueWithCheckBoxes();
    l.columns[0].editable = false;
    GridView v(QStringLiteral("dw_1"), l);
    v.SetTransObject(&sqlca());
    v.Retrieve();
    // Show the check box first; tab order still follows the layout.
    v.setColumnOrder({QStringLiteral("flag2")});
    v.show();
    QTableView* t = v.table();
    QAbstractItemModel* m = t->model();
    auto header = [&](const QModelIndex& i) { return m->headerData(i.column(), Qt::Horizontal).toString(); };
    t->setCurrentIndex(m->index(0, 0));
    QStringList walk;
    for (int i = 0; i < 5; ++i) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(t, &tab);
        walk << QStringLiteral("%1:%2").arg(t->currentIndex().row()).arg(header(t->currentIndex()));
    }
    EXPECT_EQ(walk, (QStringList{QStringLiteral("0:指标类型"), QStringLiteral("0:指标名称"),
                                 QStringLiteral("0:指标描述"), QStringLiteral("0:百分比"),
                                 QStringLiteral("1:指标类型")}));
    EXPECT_EQ(t->horizontalHeader()->visualIndex(m->columnCount() - 1), 1)
        << "shown right after the row number";
}

TEST_P(GridViewTest, PreviewAttributesSwitchThePagesInPlace)
{
    EXPECT_EQ(view->Modify(QStringLiteral("DataWindow.Print.Preview"), QStringLiteral("yes")), QString());
    EXPECT_TRUE(view->previewShown());
    EXPECT_EQ(view->Describe(QStringLiteral("DataWindow.Print.Preview")), QStringLiteral("yes"));
    EXPECT_EQ(view->Modify(QStringLiteral("DataWindow.Print.Preview.Outline"), QStringLiteral("no")),
              QString());
    EXPECT_FALSE(view->buffer().previewOutline);
    EXPECT_EQ(view->Modify(QStringLiteral("DataWindow.Print.Orientation"), 1), QString());
    EXPECT_EQ(view->buffer().orientation, 1);
    EXPECT_FALSE(view->Modify(QStringLiteral("DataWindow.Print.Orientation"), 3).isEmpty());
    EXPECT_EQ(view->buffer().orientation, 1);
    auto* pages = view->findChild<gridview_detail::PreviewPages*>();
    ASSERT_NE(pages, nullptr);
    EXPECT_GT(pages->sizeHint().width(), pages->sizeHint().height() / qMax(1, pages->pageCount()))
        << "landscape pages are wider than high";
    EXPECT_EQ(view->Modify(QStringLiteral("t_1.Text"), QStringLiteral("方案3统计指标")), QString());
    EXPECT_EQ(view->title(), QStringLiteral("方案3统计指标"));
    EXPECT_FALSE(view->Modify(QStringLiteral("t_nothing.text"), QStringLiteral("x")).isEmpty());
    EXPECT_EQ(view->Modify(QStringLiteral("DataWindow.Print.Preview"), false), QString());
    EXPECT_FALSE(view->previewShown());
}

TEST_P(GridViewTest, PrintWithoutAPrinterWritesAPdfAndSaysWhere)
{
    QTemporaryDir dir;
    GridView::setPrintFolder(dir.path());
    view->buffer().setText(QStringLiteral("t_1"), QStringLiteral("方案/3"));
    EXPECT_EQ(view->Print(), 1);
    GridView::setPrintFolder(QString());
    const QString file = view->lastPrintTarget();
    EXPECT_EQ(QFileInfo(file).fileName(), QStringLiteral("方案_3.pdf"));
    EXPECT_GT(QFileInfo(file).size(), 1000);
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_EQ(box.shown()[0].title, QStringLiteral("提示信息"));
    EXPECT_TRUE(box.shown()[0].text.contains(QDir::toNativeSeparators(file)));
}

ALLSTATS_ON_ALL_BACKENDS(GridViewTest);

} // namespace
