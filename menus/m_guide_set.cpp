// SPDX-License-Identifier: GPL-3.0-or-later
#include "menus/m_guide_set.h"

#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/modulewindow.h"

m_guide_set::m_guide_set(UiHost& host) : Menu(QStringLiteral("m_guide_set")), m_host(host)
{
    m_save = addItem({QStringLiteral("m_save"),
                      QStringLiteral("保存\tCtrl+S"),
                      QKeySequence(Qt::CTRL | Qt::Key_S),
                      QStringLiteral("保存本窗口的修改"),
                      QStringLiteral("Save!"),
                      {},
                      {}});
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
                         QStringLiteral("Preview!"),
                         {},
                         {}});
    m_excel = addItem({QStringLiteral("m_excel"),
                       QStringLiteral("另存为...\tCtrl+A"),
                       QKeySequence(Qt::CTRL | Qt::Key_A),
                       QStringLiteral("保存为Excel文件"),
                       QStringLiteral("saveas!"),
                       {},
                       QStringLiteral("另存为Excel文件")});
    m_exit = addItem({QStringLiteral("m_退出"),
                      QStringLiteral("退出\tCtrl+X"),
                      QKeySequence(Qt::CTRL | Qt::Key_X),
                      QStringLiteral("退出本窗口"),
                      QStringLiteral("exit!"),
                      {},
                      {}});

    connect(m_save, &MenuItem::clicked, this, &m_guide_set::save);
    connect(m_print, &MenuItem::clicked, this, &m_guide_set::print);
    connect(m_preview, &MenuItem::clicked, this, &m_guide_set::preview);
    connect(m_excel, &MenuItem::clicked, this, &m_guide_set::excel);
    connect(m_exit, &MenuItem::clicked, this, &m_guide_set::exit);
}

bool m_guide_set::writeChanges(UiHost& host, GridView& grid, QString* error)
{
    Sqlca& sqlca = host.sqlca();
    if (grid.buffer().Update() != 1) {
        // A silent failure would look like a successful save: say what the
        // database refused and leave nothing half-written.
        *error = sqlca.SQLErrText;
        sqlca.rollback();
        return false;
    }
    if (!sqlca.commit()) {
        *error = sqlca.SQLErrText;
        sqlca.rollback();
        return false;
    }
    return true;
}

void m_guide_set::save()
{
    GridView* grid = m_host.gdw_share;
    if (!grid)
        return;
    // A menu click leaves the cell being typed in open: store it first, or the
    // last edit would be missing from the save. A value the cell refused stops
    // the save (the user has just been told why).
    if (grid->buffer().AcceptText() != 1)
        return;
    if (grid->buffer().ModifiedCount() < 1)
        return;
    QString error;
    if (!writeChanges(m_host, *grid, &error)) {
        messages().MessageBox(QString(), error, msg::Icon::Warning);
        return;
    }
    messages().MessageBox(QString(), QStringLiteral("保存成功"));
}

void m_guide_set::print()
{
    if (GridView* grid = m_host.gdw_share)
        grid->Print();
}

void m_guide_set::preview()
{
    GridView* grid = m_host.gdw_share;
    const bool on = m_preview->toggle(QStringLiteral("取消预缆"), QStringLiteral("打印预缆"));
    if (!grid)
        return;
    if (on) {
        grid->Modify(QStringLiteral("DataWindow.Print.Preview"), true);
        grid->Modify(QStringLiteral("DataWindow.Print.Preview.Outline"), QStringLiteral("no"));
    } else {
        grid->Modify(QStringLiteral("DataWindow.Print.Preview"), false);
        grid->Modify(QStringLiteral("DataWindow.Print.Preview.Rulers"), QStringLiteral("no"));
    }
}

void m_guide_set::excel()
{
    if (GridView* grid = m_host.gdw_share) {
        grid->buffer().AcceptText(); // the cell being typed in belongs to the export
        m_host.f_dw2excel(grid);
    }
}

void m_guide_set::exit()
{
    if (ModuleWindow* w = parentWindow())
        w->close();
}
