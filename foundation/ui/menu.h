// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QToolBar>

class QAction;
class QMenu;
class Menu;
class ModuleWindow;

// One command of a menu: a drop-down entry and a toolbar button that run the
// same command, with the item's own state (Text, Checked, ToolbarItemDown,
// Enabled) shown on both.
class MenuItem final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MenuItem)

public:
    struct Definition
    {
        QString name;               // m_preview
        QString text;               // "打印预缆\tCtrl+V": caption, tab, shortcut hint
        QKeySequence shortcut;      // separate from the hint in the text
        QString microHelp;          // status line text on hover
        QString toolbarPicture;     // "print!" or ".\pic\bgcolor.bmp"
        QString toolbarDownPicture; // picture while the button is pressed
        QString toolbarText;        // text under the toolbar picture
    };

    MenuItem(const Definition& definition, Menu* menu);
    ~MenuItem() override;

    QString name() const { return m_def.name; }
    const Definition& definition() const { return m_def; }

    QString Text() const { return m_text; }
    void setText(const QString& text);
    bool Checked() const { return m_checked; }
    void setChecked(bool on);
    bool ToolbarItemDown() const { return m_down; }
    void setToolbarItemDown(bool down);
    // A toggle's click: moves the item to its other state (Checked, ToolbarItemDown
    // and the text naming that state) and returns the new Checked flag.
    bool toggle(const QString& onText, const QString& offText);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);

    // The window the menu is attached to.
    ModuleWindow* parentWindow() const;

    QAction* menuAction() const { return m_menuAction; }
    QAction* toolbarAction() const { return m_toolbarAction; }

    // Runs the command, as a click on the entry, the button or the shortcut does.
    void click();

signals:
    void clicked();

private:
    void sync();

    Definition m_def;
    Menu* m_menu;
    QString m_text;
    bool m_checked = false;
    bool m_down = false;
    bool m_enabled = true;
    QAction* m_menuAction;
    QAction* m_toolbarAction;
};

// A menu bar with one drop-down ("文件") plus its toolbar. Each window gets its
// own instance; ModuleWindow::ChangeMenu attaches it and owns it.
class Menu : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Menu)

public:
    explicit Menu(const QString& name, const QString& dropDownText = QStringLiteral("文件"));
    ~Menu() override;

    QString name() const { return objectName(); }
    QString dropDownText() const { return m_dropDownText; }
    QList<MenuItem*> items() const { return m_items; }
    MenuItem* item(const QString& name) const;

    ModuleWindow* parentWindow() const { return m_window; }
    QToolBar* toolBar() const { return m_toolBar; }

    // Builds the drop-down and the toolbar on the window (called by ChangeMenu).
    void attach(ModuleWindow* window);
    void detach();

protected:
    MenuItem* addItem(const MenuItem::Definition& definition);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString m_dropDownText;
    QList<MenuItem*> m_items;
    QPointer<ModuleWindow> m_window;
    QPointer<QToolBar> m_toolBar;
    QPointer<QMenu> m_dropDown;
};

// Toolbar pictures: stock names ("print!", "preview!", "saveas!", "exit!", "Save!",
// "vcrnext!", "VCRPrior!") map to theme or drawn icons; ".\pic\name.bmp" loads
// <executable folder>/pic/name.bmp (drawn in its place when missing).
QIcon toolbarPicture(const QString& name);
