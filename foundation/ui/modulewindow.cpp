// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/ui/modulewindow.h"

#include "foundation/ui/gridview.h"
#include "foundation/ui/menu.h"
#include "foundation/ui/messages.h"

#include <QCloseEvent>
#include <QEvent>
#include <QStatusBar>

ModuleWindow::ModuleWindow(UiHost& host, const QString& name, int rightsPosition, ShareOrder order,
                           QWidget* parent)
    : QMainWindow(parent), m_host(host), m_rightsPosition(rightsPosition), m_order(order),
      m_client(new QWidget(this))
{
    setObjectName(name);
    setAttribute(Qt::WA_DeleteOnClose);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);
    m_client->installEventFilter(this);
    statusBar()->setSizeGripEnabled(true);
    setDesignSize(m_designSize.width(), m_designSize.height());
}

ModuleWindow::~ModuleWindow()
{
    // The shared grid dies with its window.
    for (GridView* g : grids())
        if (m_host.gdw_share == g)
            m_host.gdw_share = nullptr;
    delete m_menu;
}

void ModuleWindow::setDesignSize(int width, int height)
{
    m_designSize = QSize(width, height);
    setProperty("designSize", m_designSize);
    m_client->setMinimumSize(0, 0);
    const QSize px(qRound(width * kPixelsPerUnit), qRound(height * kPixelsPerUnit));
    // The window opens at its design size; menu bar, toolbar and status line come on top.
    m_client->resize(px);
    resize(px.width(), px.height() + 90);
}

void ModuleWindow::place(QWidget* control, int x, int y, int width, int height)
{
    const QRect design(x, y, width, height);
    control->setProperty("designGeometry", design);
    if (control->parentWidget() != m_client)
        control->setParent(m_client);
    control->setGeometry(qRound(x * kPixelsPerUnit), qRound(y * kPixelsPerUnit),
                         qRound(width * kPixelsPerUnit), qRound(height * kPixelsPerUnit));
    addControl(control);
}

void ModuleWindow::addControl(QWidget* control)
{
    if (control->parentWidget() != m_client)
        control->setParent(m_client);
    if (!m_controls.contains(control))
        m_controls.append(control);
}

QList<QWidget*> ModuleWindow::Control() const
{
    QList<QWidget*> list;
    for (const QPointer<QWidget>& c : m_controls)
        if (c)
            list << c.data();
    return list;
}

bool ModuleWindow::isGrid(const QWidget* control)
{
    return qobject_cast<const GridView*>(control) != nullptr;
}

GridView* ModuleWindow::firstGrid() const
{
    for (QWidget* c : Control())
        if (isGrid(c))
            return static_cast<GridView*>(c);
    return nullptr;
}

QList<GridView*> ModuleWindow::grids() const
{
    QList<GridView*> list;
    for (QWidget* c : Control())
        if (isGrid(c))
            list << static_cast<GridView*>(c);
    return list;
}

GridView* ModuleWindow::dw_1() const
{
    return firstGrid();
}

int ModuleWindow::unitsToPixelsX(int units) const
{
    // The host scales the design geometry with the client area, so the
    // current scale is the client's width over the design width.
    const int designWidth = m_designSize.width() > 0 ? m_designSize.width() : 1;
    const int clientWidth = m_client->width() > 0 ? m_client->width() : qRound(designWidth * kPixelsPerUnit);
    return qRound(double(units) * clientWidth / designWidth);
}

void ModuleWindow::setWidening(GridView* grid, int units)
{
    if (grid)
        grid->setProperty("wideningUnits", units);
}

int ModuleWindow::widening(const GridView* grid) const
{
    return grid ? grid->property("wideningUnits").toInt() : 0;
}

bool ModuleWindow::Open()
{
    m_openMessage = m_host.message;
    // 1. Rights gate.
    if (m_rightsPosition > 0 && rightsDenied(m_host.gs_usergrant, m_rightsPosition)) {
        messages().MessageBox(QStringLiteral("系统提示"),
                              QStringLiteral("你无权限执行该操作,请询问系统管理员"), msg::Icon::Information,
                              msg::Buttons::Ok);
        m_refused = true;
        close();
        return false;
    }
    // 2. Layout record.
    us_resize = m_host.uf_open(this);
    // 3. Menu and shared grid, in the screen's order.
    GridView* grid = dw_1();
    if (m_order == ShareOrder::ShareThenMenu) {
        m_host.gdw_share = grid;
        ChangeMenu(createMenu());
    } else {
        ChangeMenu(createMenu());
        m_host.gdw_share = grid;
    }
    // 4. Bind the grid.
    beforeBind();
    if (grid)
        grid->SetTransObject(&m_host.sqlca());
    m_opened = true;
    // 5. The screen's own start.
    start();
    return true;
}

void ModuleWindow::ChangeMenu(Menu* menu)
{
    if (menu == m_menu)
        return;
    if (m_menu) {
        m_menu->detach();
        delete m_menu;
    }
    m_menu = menu;
    if (m_menu)
        m_menu->attach(this);
}

void ModuleWindow::closeEvent(QCloseEvent* event)
{
    if (m_opened && !m_refused && closeQuery() == 1) {
        event->ignore();
        return;
    }
    event->accept();
}

bool ModuleWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        handleClientResize();
    return QMainWindow::eventFilter(watched, event);
}

void ModuleWindow::handleClientResize()
{
    if (!m_opened)
        return;
    m_host.uf_resize(this, us_resize, m_client->width(), m_client->height());
    // The host laid the grids out at their design widths; a grid the query-area
    // toggle widened keeps covering the query area at the new scale.
    for (GridView* g : grids()) {
        if (const int units = widening(g); units != 0) {
            g->resize(g->width() + unitsToPixelsX(units), g->height());
            if (g->broughtToTop())
                g->raise();
        }
    }
}
