// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/ui/menu.h"

#include "foundation/places.h"
#include "foundation/ui/modulewindow.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QToolBar>

// ---------------------------------------------------------------- MenuItem

MenuItem::MenuItem(const Definition& definition, Menu* menu)
    : QObject(menu), m_def(definition), m_menu(menu), m_text(definition.text),
      m_menuAction(new QAction(this)), m_toolbarAction(new QAction(this))
{
    setObjectName(definition.name);
    m_menuAction->setObjectName(definition.name);
    m_toolbarAction->setObjectName(definition.name + QStringLiteral("_tb"));
    if (!definition.shortcut.isEmpty()) {
        m_menuAction->setShortcut(definition.shortcut);
        m_menuAction->setShortcutContext(Qt::WindowShortcut);
    }
    m_menuAction->setStatusTip(definition.microHelp);
    m_toolbarAction->setStatusTip(definition.microHelp);

    QIcon icon = toolbarPicture(definition.toolbarPicture);
    if (!definition.toolbarDownPicture.isEmpty()) {
        // The pressed button shows its own picture.
        const QIcon down = toolbarPicture(definition.toolbarDownPicture);
        QIcon both;
        for (const QSize& size : {QSize(16, 16), QSize(24, 24), QSize(32, 32)}) {
            both.addPixmap(icon.pixmap(size), QIcon::Normal, QIcon::Off);
            both.addPixmap(down.pixmap(size), QIcon::Normal, QIcon::On);
        }
        icon = both;
    }
    m_toolbarAction->setIcon(icon);
    m_toolbarAction->setCheckable(true); // shows ToolbarItemDown
    const QString tbText =
        definition.toolbarText.isEmpty() ? definition.text.section(u'\t', 0, 0) : definition.toolbarText;
    m_toolbarAction->setText(tbText);
    m_toolbarAction->setIconText(tbText);
    m_toolbarAction->setToolTip(definition.microHelp.isEmpty() ? tbText : definition.microHelp);

    connect(m_menuAction, &QAction::triggered, this, &MenuItem::click);
    connect(m_toolbarAction, &QAction::triggered, this, &MenuItem::click);
    sync();
}

MenuItem::~MenuItem() = default;

ModuleWindow* MenuItem::parentWindow() const
{
    return m_menu ? m_menu->parentWindow() : nullptr;
}

void MenuItem::setText(const QString& text)
{
    m_text = text;
    sync();
}

void MenuItem::setChecked(bool on)
{
    m_checked = on;
    sync();
}

bool MenuItem::toggle(const QString& onText, const QString& offText)
{
    const bool on = !m_checked;
    setText(on ? onText : offText);
    setToolbarItemDown(on);
    setChecked(on);
    return on;
}

void MenuItem::setToolbarItemDown(bool down)
{
    m_down = down;
    sync();
}

void MenuItem::setEnabled(bool on)
{
    m_enabled = on;
    sync();
}

void MenuItem::sync()
{
    m_menuAction->setText(m_text);
    m_menuAction->setCheckable(m_checked);
    m_menuAction->setChecked(m_checked);
    m_menuAction->setEnabled(m_enabled);
    m_toolbarAction->setChecked(m_down);
    m_toolbarAction->setEnabled(m_enabled);
}

void MenuItem::click()
{
    if (!m_enabled)
        return;
    QPointer<MenuItem> self(this);
    emit clicked();
    // The command may have closed the window and with it this menu.
    if (self)
        sync(); // undo the automatic toggling of the actions: the item's state rules
}

// ---------------------------------------------------------------- Menu

Menu::Menu(const QString& name, const QString& dropDownText) : m_dropDownText(dropDownText)
{
    setObjectName(name);
}

Menu::~Menu()
{
    detach();
}

MenuItem* Menu::addItem(const MenuItem::Definition& definition)
{
    auto* item = new MenuItem(definition, this);
    m_items.append(item);
    return item;
}

MenuItem* Menu::item(const QString& name) const
{
    for (MenuItem* i : m_items)
        if (i->name() == name)
            return i;
    return nullptr;
}

void Menu::attach(ModuleWindow* window)
{
    detach();
    m_window = window;
    QFont menuFont(QStringLiteral("Tahoma"));
    menuFont.setPointSize(9);

    QMenuBar* bar = window->menuBar();
    bar->clear();
    bar->setFont(menuFont);
    m_dropDown = bar->addMenu(m_dropDownText);
    m_dropDown->setObjectName(QStringLiteral("m_file"));
    m_dropDown->setFont(menuFont);
    m_dropDown->setToolTipsVisible(false);

    m_toolBar = new QToolBar(objectName(), window);
    m_toolBar->setObjectName(objectName() + QStringLiteral("_toolbar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setIconSize(QSize(24, 24));
    m_toolBar->setMovable(false);
    m_toolBar->setFont(menuFont);
    m_toolBar->setStyleSheet(QStringLiteral(
        "QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfd, stop:1 #e3e9ee);"
        " border-bottom: 1px solid #b8c4cc; spacing: 2px; padding: 1px 4px; }"
        "QToolButton { padding: 2px 6px; border: 1px solid transparent; border-radius: 3px; }"
        "QToolButton:hover { border-color: #9bb6cc; background: #eaf2f9; }"
        "QToolButton:checked { border-color: #7d9bb4; background: #d3e2ef; }"));
    window->addToolBar(Qt::TopToolBarArea, m_toolBar);

    for (MenuItem* i : m_items) {
        m_dropDown->addAction(i->menuAction());
        window->addAction(i->menuAction()); // shortcuts work while the drop-down is closed
        m_toolBar->addAction(i->toolbarAction());
    }
    qApp->installEventFilter(this);
}

void Menu::detach()
{
    if (qApp)
        qApp->removeEventFilter(this);
    if (m_window) {
        for (MenuItem* i : m_items)
            m_window->removeAction(i->menuAction());
        if (QMenuBar* bar = m_window->menuBar())
            bar->clear();
    }
    delete m_toolBar.data();
    delete m_dropDown.data();
    m_window = nullptr;
}

bool Menu::eventFilter(QObject* watched, QEvent* event)
{
    // The menu's shortcuts win over the edit fields of its window: Ctrl+V previews
    // and Ctrl+X closes instead of pasting and cutting.
    if (event->type() == QEvent::ShortcutOverride && m_window) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == m_window) {
            auto* key = static_cast<QKeyEvent*>(event);
            const QKeySequence pressed(key->keyCombination());
            for (MenuItem* i : m_items) {
                if (!i->definition().shortcut.isEmpty() && i->definition().shortcut == pressed) {
                    event->ignore();
                    return true;
                }
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------- pictures

namespace {

// A picture file of the pic folder, matched without regard to case.
QString pictureFile(const QString& name)
{
    QString file = name;
    file.replace(u'\\', u'/');
    file = QFileInfo(file).fileName();
    const QString folder = pictureDir();
    if (folder.isEmpty())
        return {};
    const QDir dir(folder);
    for (const QString& entry : dir.entryList(QDir::Files))
        if (entry.compare(file, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    return {};
}

// Drawn pictures for when neither the theme nor the pic folder has one.
QPixmap drawn(const QString& key)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x2d, 0x4a, 0x63);
    const QColor paper(0xfd, 0xfd, 0xf8);
    const QColor accent(0x2f, 0x8f, 0x8f);
    p.setPen(QPen(ink, 1.6));
    if (key == u"print") {
        p.setBrush(paper);
        p.drawRect(QRectF(9, 4, 14, 10));
        p.setBrush(QColor(0xa9, 0xb9, 0xc6));
        p.drawRoundedRect(QRectF(4, 12, 24, 11), 2, 2);
        p.setBrush(paper);
        p.drawRect(QRectF(9, 19, 14, 9));
        p.drawLine(QPointF(11.5, 22.5), QPointF(20.5, 22.5));
        p.drawLine(QPointF(11.5, 25), QPointF(18, 25));
    } else if (key == u"preview") {
        p.setBrush(paper);
        p.drawRect(QRectF(5, 3, 17, 23));
        p.setPen(QPen(QColor(0x8a, 0x9a, 0xaa), 1.2));
        for (int y = 8; y <= 20; y += 4)
            p.drawLine(QPointF(8, y), QPointF(19, y));
        p.setPen(QPen(ink, 2.2));
        p.setBrush(QColor(0xd8, 0xec, 0xf6, 200));
        p.drawEllipse(QPointF(19, 18), 6, 6);
        p.drawLine(QPointF(23.5, 22.5), QPointF(29, 28));
    } else if (key == u"saveas" || key == u"save") {
        p.setBrush(QColor(0x3e, 0x6e, 0x9a));
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 2.5, 2.5);
        p.setBrush(paper);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(QColor(0xdd, 0xe4, 0xea));
        p.drawRect(QRectF(8, 18, 16, 10));
        if (key == u"saveas") {
            p.setPen(QPen(QColor(0x1e, 0x7d, 0x32), 2.4));
            p.drawLine(QPointF(20, 26), QPointF(30, 16));
        }
    } else if (key == u"exit") {
        p.setBrush(QColor(0xc9, 0xa8, 0x7c));
        p.drawRect(QRectF(6, 4, 13, 24));
        p.setPen(QPen(QColor(0xb0, 0x30, 0x30), 2.6));
        p.drawLine(QPointF(15, 16), QPointF(29, 16));
        p.drawLine(QPointF(24, 11), QPointF(29, 16));
        p.drawLine(QPointF(24, 21), QPointF(29, 16));
    } else if (key == u"vcrnext" || key == u"vcrprior") {
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        QPainterPath path;
        if (key == u"vcrnext") {
            path.moveTo(7, 7);
            path.lineTo(19, 16);
            path.lineTo(7, 25);
            p.drawPath(path);
            p.drawRect(QRectF(21, 7, 4, 18));
        } else {
            path.moveTo(25, 7);
            path.lineTo(13, 16);
            path.lineTo(25, 25);
            p.drawPath(path);
            p.drawRect(QRectF(7, 7, 4, 18));
        }
    } else if (key.startsWith(u"bgcolor")) {
        const bool off = key.endsWith(u'r');
        for (int r = 0; r < 4; ++r) {
            p.setPen(QPen(ink, 1));
            p.setBrush(!off && r % 2 == 1 ? QColor(255, 235, 255) : Qt::white);
            p.drawRect(QRectF(4, 5 + r * 6, 24, 6));
        }
    } else if (key.startsWith(u"print_")) {
        const bool landscape = key.endsWith(u'h');
        const QRectF sheet = landscape ? QRectF(3, 8, 26, 17) : QRectF(8, 3, 17, 26);
        p.setBrush(paper);
        p.drawRect(sheet);
        p.setPen(QPen(QColor(0x8a, 0x9a, 0xaa), 1.2));
        for (double y = sheet.top() + 5; y < sheet.bottom() - 2; y += 4)
            p.drawLine(QPointF(sheet.left() + 3, y), QPointF(sheet.right() - 3, y));
    } else {
        p.setBrush(QColor(0xdd, 0xe4, 0xea));
        p.drawRoundedRect(QRectF(5, 5, 22, 22), 3, 3);
    }
    return pm;
}

} // namespace

QIcon toolbarPicture(const QString& name)
{
    if (name.isEmpty())
        return {};
    if (name.endsWith(u'!')) {
        const QString stock = name.chopped(1).toLower();
        struct Stock
        {
            const char16_t* name;
            const char16_t* theme;
        };
        static const Stock table[] = {
            {u"print", u"document-print"},    {u"preview", u"document-print-preview"},
            {u"saveas", u"document-save-as"}, {u"save", u"document-save"},
            {u"exit", u"application-exit"},   {u"vcrnext", u"go-next"},
            {u"vcrprior", u"go-previous"},
        };
        for (const Stock& s : table) {
            if (stock == QStringView(s.name)) {
                const QIcon themed = QIcon::fromTheme(QString::fromUtf16(s.theme));
                if (!themed.isNull())
                    return themed;
                return QIcon(drawn(stock));
            }
        }
        return QIcon(drawn(stock));
    }
    const QString file = pictureFile(name);
    if (!file.isEmpty()) {
        QPixmap pm(file);
        if (!pm.isNull()) {
            // BMP pictures have no alpha: their corner colour is the background.
            QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
            const QRgb key = img.pixel(0, 0);
            if (qAlpha(key) == 255 && (key & 0xffffff) == 0xc0c0c0) {
                for (int y = 0; y < img.height(); ++y)
                    for (int x = 0; x < img.width(); ++x)
                        if (img.pixel(x, y) == key)
                            img.setPixel(x, y, qRgba(0, 0, 0, 0));
            }
            return QIcon(QPixmap::fromImage(img));
        }
    }
    QString base = name;
    base.replace(u'\\', u'/');
    return QIcon(drawn(QFileInfo(base).completeBaseName().toLower()));
}
