// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ui/w_guide_set.h"

#include "catalogue/d_guideline.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "menus/m_guide_set.h"

w_guide_set::w_guide_set(UiHost& host, QWidget* parent)
    : ModuleWindow(host, QStringLiteral("w_guide_set"), kRightsPosition, ShareOrder::ShareThenMenu, parent)
{
    setWindowTitle(QStringLiteral("统计指标管理"));
    // The client area below the menu and toolbar; the grid keeps its margins round it.
    setDesignSize(3717, 1912);
    m_dw_1 = new GridView(QStringLiteral("dw_1"), d_guideline(), client());
    // A save that renames indicators the schemes hold asks once whether the
    // schemes' copies follow.
    attachGuidelineChecks(m_dw_1->buffer(), [] {
        return messages().MessageBox(QStringLiteral("提示信息"),
                                     QStringLiteral("是否同时更新各方案中的指标名称？"), msg::Icon::Question,
                                     msg::Buttons::YesNo) == msg::Yes;
    });
    place(m_dw_1, 41, 12, 3593, 1888);
}

w_guide_set::~w_guide_set() = default;

Menu* w_guide_set::createMenu()
{
    return new m_guide_set(host());
}

void w_guide_set::start()
{
    // A failing query leaves the grid empty; the screen says nothing of its own.
    m_dw_1->Retrieve();
}

int w_guide_set::closeQuery()
{
    GridBuffer& grid = m_dw_1->buffer();
    // The cell being typed in counts; a value it refused keeps the window open to be corrected.
    if (grid.AcceptText() != 1)
        return 1;
    if (grid.ModifiedCount() < 1)
        return 0;
    // The scheme editor's question, in the same words and with the same buttons.
    switch (messages().MessageBox(QString(), QStringLiteral("统计指标已修改，请确认是否保存？"),
                                  msg::Icon::Question, msg::Buttons::YesNoCancel)) {
    case msg::Yes: {
        QString error;
        if (m_guide_set::writeChanges(host(), *m_dw_1, &error))
            return 0;
        // Nothing was written; the edits stay for the user to put right.
        messages().MessageBox(QString(), error, msg::Icon::Warning);
        return 1;
    }
    case msg::No:
        return 0;
    default:
        return 1;
    }
}
