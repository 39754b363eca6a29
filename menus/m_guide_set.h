// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/menu.h"

class GridView;
class UiHost;

// The catalogue menu: save, print, preview toggle, export and close, acting on
// the host's shared grid gdw_share.
class m_guide_set final : public Menu
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(m_guide_set)

public:
    explicit m_guide_set(UiHost& host);

    // Writes the grid's changes and commits them. On failure everything is
    // rolled back, the edits stay in the grid and *error holds the text to
    // show (the database's, or why the grid refused to write).
    static bool writeChanges(UiHost& host, GridView& grid, QString* error);

    MenuItem* m_save;
    MenuItem* m_print; // m_打印
    MenuItem* m_preview;
    MenuItem* m_excel;
    MenuItem* m_exit; // m_退出

private:
    void save();
    void print();
    void preview();
    void excel();
    void exit();

    UiHost& m_host;
};
