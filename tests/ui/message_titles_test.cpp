// SPDX-License-Identifier: GPL-3.0-or-later
// The message boxes of the catalogue, the scheme editor and the report speak as
// one program: Chinese titles ("提示信息", the rights notice "系统提示", or the
// empty title of database errors and "保存成功"), never the program's name; a
// failure carries the warning icon; a close with unsaved edits asks the same
// way on every screen. Driven through the screens on both backends, with the
// seed's 月报 of 郑州市; the real dialog's title and width are checked in window_test.
#include "catalogue/ui/w_guide_set.h"
#include "foundation/ui/messages.h"
#include "report/ui/w_xmjdzl.h"
#include "schemes/ui/w_zbfa_set.h"
#include "support/seed.h"
#include "testwindows.h"

#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>

namespace {

class MessageTitlesTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        seed::monthlyReport(*db);
        host = std::make_unique<FakeHost>(sqlca());
        host->gs_kjqj = seed::kPeriod;
        host->gs_userqybm = seed::kRegion;
    }
    void TearDown() override
    {
        for (const QPointer<ModuleWindow>& w : std::as_const(windows))
            delete w.data();
        processDeletes();
        host.reset();
        BackendTest::TearDown();
    }
    template <class Screen> Screen* open(int kind = 0)
    {
        host->message.clear();
        if (kind)
            host->message.numberParm = kind;
        auto* w = new Screen(*host);
        if (!w->Open()) {
            processDeletes();
            return nullptr;
        }
        windows << w;
        w->show();
        return w;
    }
    const ScriptedMessageService::Shown& last() { return boxes.shown().last(); }
    static long rowOf(GridBuffer& grid, const QString& column, const QString& value)
    {
        for (long r = 1; r <= grid.RowCount(); ++r)
            if (grid.GetItemString(r, column) == value)
                return r;
        return 0;
    }

    ScriptedMessageService boxes;
    ScopedMessages scoped{&boxes};
    std::unique_ptr<FakeHost> host;
    QList<QPointer<ModuleWindow>> windows;
};

TEST_P(MessageTitlesTest, EveryScreenSpeaksAsOneProgram)
{
    const QString notice = QStringLiteral("提示信息");

    // The catalogue: a renamed indicator the scheme holds asks once, then "保存成功".
    auto* catalogue = open<w_guide_set>();
    ASSERT_NE(catalogue, nullptr);
    GridBuffer& indicators = catalogue->m_dw_1->buffer();
    const QString number = QStringLiteral("number");
    ASSERT_EQ(indicators.SetText(rowOf(indicators, number, QStringLiteral("0001")), QStringLiteral("zbmc"),
                                 QStringLiteral("互助金总规模")),
              1);
    boxes.answer(msg::Yes);
    static_cast<m_guide_set*>(catalogue->menu())->m_save->click();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].title, notice);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("是否同时更新各方案中的指标名称？"));
    EXPECT_EQ(boxes.shown()[0].icon, msg::Icon::Question);
    EXPECT_EQ(boxes.shown()[0].buttons, msg::Buttons::YesNo);
    EXPECT_EQ(last().title, QString());
    EXPECT_EQ(last().text, QStringLiteral("保存成功"));
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT zbmc FROM s_zbfa WHERE zbbm = '0001'")).toString(),
              QStringLiteral("互助金总规模"));

    // A used code changed: refused as a failure, the edit kept.
    ASSERT_EQ(
        indicators.SetText(rowOf(indicators, number, QStringLiteral("0003")), number, QStringLiteral("0009")),
        1);
    static_cast<m_guide_set*>(catalogue->menu())->m_save->click();
    EXPECT_EQ(last().title, QString());
    EXPECT_EQ(last().icon, msg::Icon::Warning);
    EXPECT_TRUE(last().text.contains(QStringLiteral("（编码 0003）已在使用"))) << last().text.toStdString();

    // Closing it with the edit: the question of every screen; cancel keeps it open.
    boxes.answer(msg::Cancel);
    catalogue->close();
    const ScriptedMessageService::Shown catalogueClose = last();
    EXPECT_EQ(catalogueClose.text, QStringLiteral("统计指标已修改，请确认是否保存？"));
    ASSERT_TRUE(catalogue->isVisible());

    // The scheme editor's close question looks the same.
    auto* schemes = open<w_zbfa_set>(1);
    ASSERT_NE(schemes, nullptr);
    ASSERT_EQ(schemes->m_dw_1->buffer().SetText(1, QStringLiteral("xz"), 0), 1);
    boxes.answer(msg::Cancel);
    schemes->close();
    const ScriptedMessageService::Shown schemeClose = last();
    EXPECT_EQ(schemeClose.text, QStringLiteral("指标方案已修改，请确认是否保存？"));
    EXPECT_EQ(catalogueClose.title, schemeClose.title);
    EXPECT_EQ(catalogueClose.icon, schemeClose.icon);
    EXPECT_EQ(catalogueClose.buttons, schemeClose.buttons);
    EXPECT_EQ(schemeClose.buttons, msg::Buttons::YesNoCancel);
    EXPECT_EQ(schemeClose.title, QString());

    // A new scheme saved under a name another scheme carries: refused, as a failure.
    schemes->m_dw_1->buffer().Reset();
    schemes->cb_1->click();
    schemes->ddlb_1->setEditText(seed::kScheme);
    boxes.answer(msg::Yes);
    schemes->cb_2->click();
    EXPECT_EQ(last().title, QString());
    EXPECT_EQ(last().icon, msg::Icon::Warning);
    EXPECT_TRUE(last().text.contains(QStringLiteral("已被其他方案使用"))) << last().text.toStdString();

    // The report: a refusal is a notice, a failed run a warning.
    auto* report = open<w_xmjdzl>();
    ASSERT_NE(report, nullptr);
    report->ddlb_1->setCurrentText(seed::kYear);
    report->ddlb_2->setCurrentText(seed::kMonth);
    report->ddlb_3->setCurrentIndex(-1);
    report->cb_1->click();
    EXPECT_EQ(last().title, notice);
    EXPECT_EQ(last().text, QStringLiteral("请选择指标方案"));
    EXPECT_EQ(last().icon, msg::Icon::Information);
    report->ddlb_3->setCurrentText(seed::kScheme);
    host->failOn = QStringLiteral("uf_update_report");
    report->cb_1->click();
    EXPECT_EQ(last().title, QString());
    EXPECT_EQ(last().icon, msg::Icon::Warning);
    host->failOn.clear();

    // The rights notice keeps its own title.
    host->gs_usergrant = QString(25, QChar(u'0'));
    EXPECT_EQ(open<w_guide_set>(), nullptr);
    EXPECT_EQ(last().title, QStringLiteral("系统提示"));

    // No box anywhere is titled with the program's name or in another language.
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    for (const ScriptedMessageService::Shown& s : boxes.shown()) {
        EXPECT_FALSE(s.title.contains(latin)) << s.title.toStdString();
        EXPECT_TRUE(s.title.isEmpty() || s.title == notice || s.title == QStringLiteral("系统提示"))
            << s.title.toStdString();
    }
}

ALLSTATS_ON_ALL_BACKENDS(MessageTitlesTest);

} // namespace
