// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/modulewindow.h"

class GridView;

// The screen "统计指标管理": the catalogue of indicators in one grid, edited in
// place and saved, printed, previewed and exported through its menu.
class w_guide_set final : public ModuleWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_guide_set)

public:
    static constexpr int kRightsPosition = 10;

    explicit w_guide_set(UiHost& host, QWidget* parent = nullptr);
    ~w_guide_set() override;

    GridView* m_dw_1;

protected:
    GridView* dw_1() const override { return m_dw_1; }
    Menu* createMenu() override;
    void start() override;
    // Unsaved edits are not dropped without a word: yes saves, no drops them,
    // cancel stays, as in the scheme editor.
    int closeQuery() override;
};
