// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/uihost.h"

#include <QMainWindow>
#include <QPointer>

class GridView;
class Menu;

// The base of the module's screens. Controls live on the client area and are
// declared in order with place(); the host's uf_open/uf_resize lay them out
// from their design geometry (layout units, dynamic property "designGeometry",
// window design size in property "designSize").
//
// Open() runs the open protocol every screen shares:
//   1. rights gate on character P of gs_usergrant ("0" refuses: notice, window closes, nothing else runs);
//   2. us_resize = uf_open(this);
//   3. the menu and gdw_share = dw_1, in the order the screen asks for;
//   4. beforeBind() (the scheme editor reads its kind), then dw_1 bound to sqlca;
//   5. the screen's own start().
class ModuleWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ModuleWindow)

public:
    enum class ShareOrder
    {
        ShareThenMenu, // gdw_share = dw_1, then ChangeMenu (catalogue)
        MenuThenShare, // ChangeMenu, then gdw_share = dw_1 (report, scheme editor)
    };

    // rightsPosition: the 1-based character of gs_usergrant that guards the screen (0: no gate).
    ModuleWindow(UiHost& host, const QString& name, int rightsPosition, ShareOrder order,
                 QWidget* parent = nullptr);
    ~ModuleWindow() override;

    // Pixels per layout unit at the design size.
    static constexpr double kPixelsPerUnit = 0.3;

    UiHost& host() const { return m_host; }

    // Runs the open protocol; false when the rights gate refused: the window is
    // then closed and deleted (later), so the caller must not show or keep it.
    bool Open();
    bool isOpen() const { return m_opened; }

    // The parameter the window was opened with (copied from host().message when Open() starts).
    const Message& openMessage() const { return m_openMessage; }

    // The layout record uf_open returned.
    stru_resize us_resize;

    // Attaches a menu (menu bar + toolbar); the window owns it from now on.
    void ChangeMenu(Menu* menu);
    Menu* menu() const { return m_menu; }

    // The area the controls are placed on.
    QWidget* client() const { return m_client; }
    QSize designSize() const { return m_designSize; }
    // Sets the window's design size (layout units) and sizes the client area to it.
    void setDesignSize(int width, int height);
    // Declares a control at its design geometry (layout units); declaration order is the control order.
    void place(QWidget* control, int x, int y, int width, int height);
    // Declares a control without a design geometry (laid out by the screen itself).
    void addControl(QWidget* control);

    // The ordered control list, and the grid test on it.
    QList<QWidget*> Control() const;
    static bool isGrid(const QWidget* control);
    GridView* firstGrid() const;
    QList<GridView*> grids() const;

    // Layout units to pixels at the window's current horizontal scale.
    int unitsToPixelsX(int units) const;

    // Width added to a grid by the query-area toggle, in layout units; kept
    // through resizes so a widened grid stays widened at the new scale.
    void setWidening(GridView* grid, int units);
    int widening(const GridView* grid) const;

protected:
    // The screen's grid dw_1 (the first grid control by default).
    virtual GridView* dw_1() const;
    // The menu the screen attaches (null: none).
    virtual Menu* createMenu() { return nullptr; }
    // Runs just before dw_1 is bound to sqlca.
    virtual void beforeBind() {}
    // The screen's own start, last step of the open protocol.
    virtual void start() {}
    // Close query: 0 lets the window close, 1 keeps it open.
    virtual int closeQuery() { return 0; }

    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void handleClientResize();

    UiHost& m_host;
    int m_rightsPosition;
    ShareOrder m_order;
    QWidget* m_client;
    Menu* m_menu = nullptr;
    QSize m_designSize{3717, 2144};
    QList<QPointer<QWidget>> m_controls;
    Message m_openMessage;
    bool m_opened = false;
    bool m_refused = false;
};
