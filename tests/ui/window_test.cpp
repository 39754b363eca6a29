// SPDX-License-Identifier: GPL-3.0-or-later
// The open protocol every screen shares (its rights gate: rights_gate_test), the
// close query, resizing, the ordered control list, and the scripted message
// service the screens talk through.
#include "foundation/ui/messages.h"
#include "testwindows.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

namespace {

class WindowTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        host = std::make_unique<FakeHost>(sqlca());
    }
    std::unique_ptr<FakeHost> host;
    ScriptedMessageService box;
    ScopedMessages scoped{&box};
};

TEST_P(WindowTest, OpenOrdersMenuAndSharedGridAsTheScreenAsksThenBindsAndStarts)
{
    host->message.numberParm = 1;
    auto* report = new TestScreen(*host, 25, ModuleWindow::ShareOrder::MenuThenShare);
    ASSERT_TRUE(report->Open());
    EXPECT_EQ(host->calls, (QStringList{QStringLiteral("uf_open"), QStringLiteral("ChangeMenu"),
                                        QStringLiteral("start")}));
    EXPECT_EQ(host->gdw_share, report->grid);
    EXPECT_FALSE(report->shareSetBeforeMenu);
    EXPECT_TRUE(report->boundBeforeStart);
    EXPECT_EQ(report->numberAtBind.toInt(), 1) << "the open parameter is there before binding";
    ASSERT_NE(report->menu(), nullptr);
    EXPECT_EQ(report->menu()->parentWindow(), report);
    EXPECT_EQ(report->menuBar()->actions().size(), 1);
    EXPECT_EQ(report->menuBar()->actions()[0]->text(), QStringLiteral("文件"));

    host->message.clear();
    host->message.stringParm = QStringLiteral("41");
    auto* catalogue =
        new TestScreen(*host, 10, ModuleWindow::ShareOrder::ShareThenMenu, TestScreen::MenuKind::Guide);
    ASSERT_TRUE(catalogue->Open());
    EXPECT_TRUE(catalogue->shareSetBeforeMenu);
    EXPECT_EQ(catalogue->openMessage().stringParm, QStringLiteral("41"));
    EXPECT_EQ(host->gdw_share, catalogue->grid) << "the last opened screen's grid is shared";
    delete catalogue;
    EXPECT_EQ(host->gdw_share, nullptr) << "a closed window's grid is not left shared";
    delete report;
}

TEST_P(WindowTest, CloseQueryKeepsTheWindowOpenOnOne)
{
    QPointer<TestScreen> w = new TestScreen(*host, 0, ModuleWindow::ShareOrder::MenuThenShare);
    ASSERT_TRUE(w->Open());
    w->show();
    w->closeAnswer = 1;
    EXPECT_FALSE(w->close());
    processDeletes();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->isVisible());
    w->closeAnswer = 0;
    EXPECT_TRUE(w->close());
    processDeletes();
    EXPECT_FALSE(w);
    EXPECT_EQ(host->calls.count(QStringLiteral("closeQuery")), 2);
}

TEST_P(WindowTest, ResizeHandsTheClientSizeToTheHostLayout)
{
    auto* w = new TestScreen(*host, 0, ModuleWindow::ShareOrder::MenuThenShare);
    ASSERT_TRUE(w->Open());
    w->show();
    host->resizes.clear();
    w->resize(1400, 900);
    QCoreApplication::processEvents();
    ASSERT_FALSE(host->resizes.isEmpty());
    EXPECT_EQ(host->resizes.last(), w->client()->size());
    // The fake lays out proportionally: the grid keeps its share of the width.
    EXPECT_NEAR(double(w->grid->width()) / w->client()->width(), 2971.0 / 3717.0, 0.01);
    delete w;
}

TEST_P(WindowTest, ControlListKeepsDeclarationOrderAndFindsGrids)
{
    auto* w =
        new TestScreen(*host, 0, ModuleWindow::ShareOrder::MenuThenShare, TestScreen::MenuKind::Report, true);
    const QList<QWidget*> controls = w->Control();
    ASSERT_EQ(controls.size(), 4);
    EXPECT_EQ(controls[0]->objectName(), QStringLiteral("dw_1"));
    EXPECT_EQ(controls[1]->objectName(), QStringLiteral("dw_2"));
    EXPECT_TRUE(ModuleWindow::isGrid(controls[0]));
    EXPECT_FALSE(ModuleWindow::isGrid(controls[2]));
    EXPECT_EQ(w->firstGrid(), w->grid);
    EXPECT_EQ(w->grids(), (QList<GridView*>{w->grid, w->second}));
    EXPECT_EQ(w->client()->findChild<GridView*>(QStringLiteral("dw_2")), w->second);
    delete w;
}

ALLSTATS_ON_ALL_BACKENDS(WindowTest);

TEST(MessageService, ScriptedAnswersInOrderAndRecordsEveryBox)
{
    ScriptedMessageService box;
    ScopedMessages scoped(&box);
    box.answer(msg::No);
    box.answer(msg::Cancel);
    EXPECT_EQ(messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存？"),
                                    msg::Icon::Question, msg::Buttons::YesNo),
              msg::No);
    EXPECT_EQ(messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存修改？"),
                                    msg::Icon::Question, msg::Buttons::YesNoCancel),
              msg::Cancel);
    // With no answer queued the first button is taken.
    EXPECT_EQ(messages().MessageBox(QString(), QStringLiteral("保存成功")), msg::Ok);
    ASSERT_EQ(box.shown().size(), 3);
    EXPECT_EQ(box.shown()[1].buttons, msg::Buttons::YesNoCancel);
    EXPECT_EQ(box.shown()[2].title, QString());
    EXPECT_EQ(box.shown()[2].icon, msg::Icon::Information);
    EXPECT_EQ(box.shown()[2].buttons, msg::Buttons::Ok);
    EXPECT_EQ(box.pendingAnswers(), 0);
}

// The real dialog: which button was pressed becomes 1, 2 or 3.
TEST(MessageService, DialogAnswersWithThePressedButton)
{
    auto press = [](QMessageBox::StandardButton which) {
        QTimer::singleShot(0, [which] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            if (which == QMessageBox::NoButton)
                box->reject(); // Escape or the title bar
            else
                box->button(which)->click();
        });
    };
    DialogMessageService dialog;
    press(QMessageBox::No);
    EXPECT_EQ(dialog.MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存？"), msg::Icon::Question,
                                msg::Buttons::YesNo),
              msg::No);
    press(QMessageBox::Cancel);
    EXPECT_EQ(dialog.MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存？"), msg::Icon::Question,
                                msg::Buttons::YesNoCancel),
              msg::Cancel);
    press(QMessageBox::Yes);
    EXPECT_EQ(dialog.MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存？"), msg::Icon::Question,
                                msg::Buttons::YesNoCancel),
              msg::Yes);
    press(QMessageBox::Ok);
    EXPECT_EQ(dialog.MessageBox(QString(), QStringLiteral("保存成功")), msg::Ok);
    // Closing a question without an answer changes nothing.
    press(QMessageBox::NoButton);
    EXPECT_EQ(dialog.MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存？"), msg::Icon::Question,
                                msg::Buttons::YesNo),
              msg::No);
    press(QMessageBox::NoButton);
    EXPECT_EQ(dialog.MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否保存？"), msg::Icon::Question,
                                msg::Buttons::YesNoCancel),
              msg::Cancel);
}

// The real dialog's title bar: an empty title stays blank (the window system
// would show the program's name), a title has room beside the bar's buttons.
TEST(MessageService, DialogTitlesAreBlankOrWholeNeverTheProgramsName)
{
    QString title;
    int width = 0;
    auto look = [&] {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowHandle() ? box->windowHandle()->title() : box->windowTitle();
            width = box->width();
            box->button(QMessageBox::Ok)->click();
        });
    };
    DialogMessageService dialog;
    look();
    dialog.MessageBox(QString(), QStringLiteral("保存成功"));
    EXPECT_FALSE(title.isEmpty()) << "an empty title would show the program's name";
    EXPECT_TRUE(title.trimmed().isEmpty()) << title.toStdString();
    look();
    dialog.MessageBox(QStringLiteral("提示信息"), QStringLiteral("好"));
    EXPECT_EQ(title, QStringLiteral("提示信息"));
    EXPECT_GE(width, QFontMetrics(QApplication::font()).horizontalAdvance(title) + 150);
}

TEST(MessageService, ScopesNestAndRestoreThePreviousService)
{
    MessageService* original = &messages();
    ScriptedMessageService outer;
    {
        ScopedMessages a(&outer);
        ScriptedMessageService inner;
        {
            ScopedMessages b(&inner);
            messages().MessageBox(QStringLiteral("t"), QStringLiteral("inner"));
        }
        messages().MessageBox(QStringLiteral("t"), QStringLiteral("outer"));
        EXPECT_EQ(inner.shown().size(), 1);
    }
    EXPECT_EQ(outer.shown().size(), 1);
    EXPECT_EQ(outer.shown()[0].text, QStringLiteral("outer"));
    EXPECT_EQ(&messages(), original);
}

} // namespace
