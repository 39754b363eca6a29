// SPDX-License-Identifier: GPL-3.0-or-later
#include "menus/m_report.h"

#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/modulewindow.h"

namespace {
const QString kReportPrintSql = QStringLiteral("SELECT csvalue FROM s_sysset WHERE qybm = ? AND csname = ?");
}

m_report::m_report() : Menu(QStringLiteral("m_report"))
{
    m_excel = addItem({QStringLiteral("m_excel"),
                       QStringLiteral("另存为..."),
                       {},
                       QStringLiteral("保存为Excel文件"),
                       QStringLiteral("saveas!"),
                       {},
                       QStringLiteral("另存为Excel文件")});
    m_print = addItem({QStringLiteral("m_打印"),
                       QStringLiteral("打印\tCtrl+P"),
                       QKeySequence(Qt::CTRL | Qt::Key_P),
                       QStringLiteral("打印"),
                       QStringLiteral("print!"),
                       {},
                       QStringLiteral("打印")});
    m_preview = addItem({QStringLiteral("m_preview"),
                         QStringLiteral("打印预缆\tCtrl+V"),
                         QKeySequence(Qt::CTRL | Qt::Key_V),
                         QStringLiteral("打印预缆"),
                         QStringLiteral("preview!"),
                         {},
                         QStringLiteral("打印预览")});
    m_rowbgcolor = addItem({QStringLiteral("m_rowbgcolor"),
                            QStringLiteral("取消行背景色"),
                            {},
                            QStringLiteral("显示或取消行背景色"),
                            QStringLiteral(".\\pic\\bgcolor.bmp"),
                            QStringLiteral(".\\pic\\bgColorR.bmp"),
                            QStringLiteral("显示或取消行背景色")});
    m_printvh = addItem({QStringLiteral("m_printvh"),
                         QStringLiteral("纵向横向打印"),
                         {},
                         {},
                         QStringLiteral(".\\pic\\print_v.bmp"),
                         QStringLiteral(".\\pic\\Print_H.bmp"),
                         QStringLiteral("横向或纵向打印选择")});
    m_yccxq = addItem({QStringLiteral("m_yccxq"),
                       QStringLiteral("隐藏查询区"),
                       {},
                       {},
                       QStringLiteral("vcrnext!"),
                       QStringLiteral("VCRPrior!"),
                       QStringLiteral("隐藏查询区")});
    m_exit = addItem({QStringLiteral("m_退出"),
                      QStringLiteral("退出\tCtrl+X"),
                      QKeySequence(Qt::CTRL | Qt::Key_X),
                      QStringLiteral("退出本窗口"),
                      QStringLiteral("exit!"),
                      {},
                      QStringLiteral("退出")});

    connect(m_excel, &MenuItem::clicked, this, &m_report::excel);
    connect(m_print, &MenuItem::clicked, this, &m_report::print);
    connect(m_preview, &MenuItem::clicked, this, &m_report::preview);
    connect(m_rowbgcolor, &MenuItem::clicked, this, &m_report::rowBgColor);
    connect(m_printvh, &MenuItem::clicked, this, &m_report::printVh);
    connect(m_yccxq, &MenuItem::clicked, this, &m_report::yccxq);
    connect(m_exit, &MenuItem::clicked, this, &m_report::exit);
}

GridView* m_report::targetGrid() const
{
    return parentWindow() ? parentWindow()->firstGrid() : nullptr;
}

void m_report::excel()
{
    ModuleWindow* w = parentWindow();
    if (!w)
        return;
    // Every grid of the window, in control order.
    for (GridView* grid : w->grids()) {
        grid->buffer().AcceptText(); // the cell being typed in belongs to the export
        w->host().f_dw2excel(grid);
    }
}

void m_report::print()
{
    ModuleWindow* w = parentWindow();
    GridView* grid = targetGrid();
    if (!w || !grid)
        return;
    UiHost& host = w->host();
    // The region's print setting; a missing row, a null or a failing query all print as is.
    const QVariant value =
        host.sqlca().selectValue(kReportPrintSql, {host.gs_userqybm, QStringLiteral("ReportPrint")});
    const QString printSetting = value.isNull() ? QString() : value.toString();
    if (printSetting.trimmed() == QStringLiteral("0"))
        host.uf_bgcolor(grid, 1);
    grid->Print();
}

// The four toggles: the item is brought to its new state first, then the grid.
void m_report::preview()
{
    GridView* grid = targetGrid();
    const bool on = m_preview->toggle(QStringLiteral("取消预缆"), QStringLiteral("打印预缆"));
    if (!grid)
        return;
    grid->Modify(QStringLiteral("DataWindow.Print.Preview"), on);
    if (on)
        grid->Modify(QStringLiteral("DataWindow.Print.Preview.Outline"), QStringLiteral("no"));
}

void m_report::rowBgColor()
{
    GridView* grid = targetGrid();
    const bool on = m_rowbgcolor->toggle(QStringLiteral("显示行背景色"), QStringLiteral("取消行背景色"));
    if (grid && parentWindow())
        parentWindow()->host().uf_bgcolor(grid, on ? 1 : 0);
}

void m_report::printVh()
{
    GridView* grid = targetGrid();
    const bool on = m_printvh->toggle(QStringLiteral("横向打印"), QStringLiteral("纵向打印"));
    if (grid)
        grid->Modify(QStringLiteral("DataWindow.Print.Orientation"), on ? 1 : 2);
}

void m_report::yccxq()
{
    ModuleWindow* w = parentWindow();
    GridView* grid = targetGrid();
    const bool on = m_yccxq->toggle(QStringLiteral("打开查询区"), QStringLiteral("隐藏查询区"));
    if (!w || !grid)
        return;
    const int pixels = w->unitsToPixelsX(kQueryAreaWidth);
    if (on) {
        grid->resize(grid->width() + pixels, grid->height());
        w->setWidening(grid, w->widening(grid) + kQueryAreaWidth);
        grid->BringToTop();
    } else {
        grid->resize(qMax(0, grid->width() - pixels), grid->height());
        w->setWidening(grid, w->widening(grid) - kQueryAreaWidth);
    }
}

void m_report::exit()
{
    if (ModuleWindow* w = parentWindow())
        w->close();
}
