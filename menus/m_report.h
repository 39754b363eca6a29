// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/menu.h"

class GridView;

// The report menu of the report screen and the scheme editor: export, print,
// the preview, row-colour, orientation and query-area toggles, and close.
// Every command looks up its grid afresh among the controls of the window the
// menu is attached to; the toggles' states belong to this instance.
class m_report final : public Menu
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(m_report)

public:
    m_report();

    // The query column's width in layout units, added to the grid to cover it.
    static constexpr int kQueryAreaWidth = 682;

    MenuItem* m_excel;
    MenuItem* m_print; // m_打印
    MenuItem* m_preview;
    MenuItem* m_rowbgcolor;
    MenuItem* m_printvh;
    MenuItem* m_yccxq;
    MenuItem* m_exit; // m_退出

private:
    GridView* targetGrid() const;
    void excel();
    void print();
    void preview();
    void rowBgColor();
    void printVh();
    void yccxq();
    void exit();
};
