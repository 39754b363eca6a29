// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/desktophost.h"

#include "app/ui/screens.h"
#include "app/ui/w_message.h"
#include "app/ui/w_xmqxz.h"
#include "foundation/places.h"
#include "foundation/sqlca.h"
#include "foundation/ui/filedialogs.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/modulewindow.h"
#include "host/options.h"
#include "host/xlsxexport.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSet>

namespace {

const QString kNotice = QStringLiteral("提示信息");

QString defaultSaveFile(QWidget* parent, const QString& suggested)
{
    // The host asks about replacing a file itself, after the suffix is added.
    return filedialogs::saveFile(parent, QStringLiteral("保存为Excel文件"), suggested,
                                 QStringLiteral("Excel 工作簿 (*.xlsx)"), QFileDialog::DontConfirmOverwrite);
}

} // namespace

DesktopHost::DesktopHost(Sqlca* sqlca, const QString& hooksDir) : m_sqlca(sqlca), m_hooksDir(hooksDir)
{
    chooseSaveFile = defaultSaveFile;
    watchBusyDatabase();
}

DesktopHost::~DesktopHost()
{
    if (m_sqlca)
        m_sqlca->busyWait = nullptr;
    delete m_notice.data();
}

void DesktopHost::setSqlca(Sqlca* sqlca)
{
    if (m_sqlca && m_sqlca != sqlca)
        m_sqlca->busyWait = nullptr;
    m_sqlca = sqlca;
    watchBusyDatabase();
}

// While the database is busy with another user's run, the open wait notice
// says so (and is repainted); afterwards it shows its own text again.
void DesktopHost::watchBusyDatabase()
{
    if (!m_sqlca)
        return;
    m_sqlca->busyWait = [this](int seconds) {
        if (!m_notice || m_noticeDepth == 0)
            return;
        if (seconds > 0) {
            if (m_noticeText.isNull())
                m_noticeText = m_notice->text();
            m_notice->showText(QStringLiteral("数据库正被其他用户使用，正在等待（%1 秒）……").arg(seconds));
        } else if (!m_noticeText.isNull()) {
            m_notice->showText(m_noticeText);
            m_noticeText = QString();
        }
    };
}

// ---------------------------------------------------------------- refresh routines

Status DesktopHost::runHook(const QString& routine, const std::function<Status(SqlHost&)>& call)
{
    if (!m_sqlca)
        return Status::failure(QStringLiteral("%1：没有打开数据库").arg(routine));
    SqlHost hooks(*m_sqlca, m_hooksDir);
    return call(hooks);
}

Status DesktopHost::uf_zzye(int flag)
{
    return runHook(QStringLiteral("uf_zzye"), [&](SqlHost& h) { return h.uf_zzye(flag); });
}

Status DesktopHost::uf_yqmx(const QString& period, int flag)
{
    return runHook(QStringLiteral("uf_yqmx"), [&](SqlHost& h) { return h.uf_yqmx(period, flag); });
}

Status DesktopHost::uf_ysss(const QString& period)
{
    return runHook(QStringLiteral("uf_ysss"), [&](SqlHost& h) { return h.uf_ysss(period); });
}

Status DesktopHost::uf_allstats(const QString& region, const QString& period)
{
    return runHook(QStringLiteral("uf_allstats"), [&](SqlHost& h) { return h.uf_allstats(region, period); });
}

Status DesktopHost::uf_update_report(const QString& table, const QString& opening, const QString& cumulative)
{
    return runHook(QStringLiteral("uf_update_report"),
                   [&](SqlHost& h) { return h.uf_update_report(table, opening, cumulative); });
}

// ---------------------------------------------------------------- layout

namespace {

// A control whose design reaches the bottom of the window (a grid) grows and
// shrinks with it; the other controls keep their height and their distance
// from the top, so lines of text and buttons stay as readable as designed.
bool stretchesDown(const QRect& g, int designHeight)
{
    return g.y() + g.height() >= designHeight * 0.9 && g.height() >= designHeight / 4;
}

} // namespace

stru_resize DesktopHost::uf_open(QWidget* window)
{
    stru_resize layout;
    if (!window)
        return layout;
    const double unit = ModuleWindow::kPixelsPerUnit;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const QVariant g = w->property("designGeometry");
        if (g.canConvert<QRect>() && g.toRect().isValid())
            layout.controls.append({w, g.toRect()});
    }
    const QVariant design = window->property("designSize");
    if (design.canConvert<QSize>() && design.toSize().isValid() && !design.toSize().isEmpty()) {
        layout.designSize = design.toSize();
    } else {
        layout.designSize = QSize(qRound(window->width() / unit), qRound(window->height() / unit));
    }
    if (layout.controls.isEmpty()) {
        // A window without design geometry: its direct child controls as they stand now.
        for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isWindow())
                continue;
            const QRect g = w->geometry();
            layout.controls.append({w, QRect(qRound(g.x() / unit), qRound(g.y() / unit),
                                             qRound(g.width() / unit), qRound(g.height() / unit))});
        }
    }
    if (layout.controls.isEmpty())
        return layout;
    // The smallest area the controls stay usable on: 70 % of the design width,
    // and every control of fixed height whole (a stretching one keeps some rows).
    int height = 0;
    for (const auto& [control, g] : std::as_const(layout.controls)) {
        const int top = qRound(g.y() * unit);
        height =
            std::max(height, stretchesDown(g, layout.designSize.height()) ? top + 120
                                                                          : top + qRound(g.height() * unit));
    }
    if (QWidget* area = layout.controls.first().first->parentWidget())
        area->setMinimumSize(qRound(layout.designSize.width() * unit * 0.7), height + 6);
    return layout;
}

void DesktopHost::uf_resize(QWidget* window, const stru_resize& layout, int newWidth, int newHeight)
{
    if (!window || layout.designSize.isEmpty() || newWidth <= 0 || newHeight <= 0)
        return;
    const double unit = ModuleWindow::kPixelsPerUnit;
    // Places and widths follow the window's width; heights stay as designed
    // except for the controls that run down to the bottom.
    const double sx = double(newWidth) / layout.designSize.width();
    const int designHeight = layout.designSize.height();
    // Only controls still inside the window: one may have been deleted since uf_open.
    const QList<QWidget*> alive = window->findChildren<QWidget*>();
    const QSet<QWidget*> present(alive.cbegin(), alive.cend());
    for (const auto& [control, g] : layout.controls) {
        if (!present.contains(control))
            continue;
        const int x = qRound(g.x() * sx);
        const int right = qRound((g.x() + g.width()) * sx);
        // A narrow control (the "..." buttons) never gets too narrow for its text.
        const int least = std::min(qRound(g.width() * unit), control->minimumSizeHint().width());
        const int width = std::max({1, right - x, least});
        const int y = qRound(g.y() * unit);
        const int bottomMargin = qRound((designHeight - g.y() - g.height()) * unit);
        const int height =
            stretchesDown(g, designHeight) ? newHeight - bottomMargin - y : qRound(g.height() * unit);
        control->setGeometry(x, y, width, std::max(1, height));
    }
}

void fitToScreen(QWidget* window, bool grow)
{
    if (!window)
        return;
    QScreen* screen = window->parentWidget() ? window->parentWidget()->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The window manager's frame is unknown until the window shows: room for a title bar and borders.
    const QSize frame(window->isVisible() ? window->frameGeometry().size() - window->size() : QSize(12, 36));
    const QSize room = available.size() - frame;
    const QSize design = window->size();
    if (design.width() > room.width() || design.height() > room.height()) {
        // Too big for this screen: the whole screen (also where no window manager maximises).
        window->resize(room.expandedTo(window->minimumSize()));
        window->move(available.topLeft());
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
        return;
    }
    QSize size = design;
    if (grow) {
        // Room to spare: the window grows with the screen (up to 90 % of it), so rows need less scrolling.
        const double factor = std::clamp(
            std::min(0.9 * room.width() / design.width(), 0.9 * room.height() / design.height()), 1.0, 1.4);
        size = QSize(qRound(design.width() * factor), qRound(design.height() * factor));
    }
    window->resize(size);
    const QSize outer = size + frame;
    window->move(available.x() + (available.width() - outer.width()) / 2,
                 available.y() + (available.height() - outer.height()) / 2);
}

// ---------------------------------------------------------------- grid routines

void DesktopHost::uf_bgcolor(GridView* grid, int flag)
{
    if (grid)
        grid->setRowColors(flag == 0);
}

int DesktopHost::f_dw2excel(GridView* grid)
{
    if (!grid)
        return -1;
    const QString suggested =
        QDir(lastFileFolder()).filePath(reportFileStem(grid->fileTitle()) + QStringLiteral(".xlsx"));
    QString path = chooseSaveFile ? chooseSaveFile(grid->window(), suggested) : QString();
    if (path.isEmpty())
        return 0;
    if (QFileInfo(path).suffix().compare(QStringLiteral("xlsx"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".xlsx");
    // The dialog does not ask (the suffix may have been added since): a file is replaced only when the user
    // says so.
    if (QFileInfo::exists(path) &&
        messages().MessageBox(
            kNotice, QStringLiteral("文件已存在：\n%1\n\n要替换它吗？").arg(QDir::toNativeSeparators(path)),
            msg::Icon::Question, msg::Buttons::YesNo) != msg::Yes)
        return 0;
    if (!QFileInfo(path).absoluteDir().exists()) {
        messages().MessageBox(kNotice,
                              QStringLiteral("保存失败：文件夹 %1 不存在。")
                                  .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())),
                              msg::Icon::Warning);
        return -1;
    }
    grid->commitOpenEditor();
    const Status s = writeXlsx(grid->buffer(), path);
    if (!s.ok) {
        messages().MessageBox(kNotice, QStringLiteral("保存失败：%1").arg(s.error), msg::Icon::Warning);
        return -1;
    }
    rememberFileFolder(QFileInfo(path).absolutePath());
    messages().MessageBox(kNotice,
                          QStringLiteral("已保存为Excel文件：\n%1").arg(QDir::toNativeSeparators(path)));
    return 1;
}

// ---------------------------------------------------------------- host windows

void DesktopHost::w_xmqxz(QWidget* parent)
{
    message.stringParm.clear();
    if (!m_sqlca)
        return;
    ::w_xmqxz picker(*m_sqlca, gs_userqybm, parent, regionScope);
    if (!picker.loadError().isEmpty())
        messages().MessageBox(QString(), picker.loadError(), msg::Icon::Warning);
    if (picker.exec() == QDialog::Accepted)
        message.stringParm = picker.selectedCode();
}

QWidget* DesktopHost::openScreen(const QString& name, QWidget* parent)
{
    const ScreenEntry* entry = findScreen(name);
    if (!entry || !entry->create) {
        messages().MessageBox(kNotice, QStringLiteral("该功能尚未提供"));
        return nullptr;
    }
    if (!m_sqlca) {
        messages().MessageBox(kNotice, QStringLiteral("没有打开数据库"), msg::Icon::Warning);
        return nullptr;
    }
    QPointer<ModuleWindow> window = entry->create(*this, parent);
    if (!window)
        return nullptr;
    // A screen is a window of its own above the main window.
    window->setWindowFlag(Qt::Window, true);
    if (!window->Open()) {
        // Refused by the rights gate: the window has closed itself.
        if (window && !window->testAttribute(Qt::WA_DeleteOnClose))
            delete window.data();
        return nullptr;
    }
    if (!window)
        return nullptr;
    QObject::connect(window, &QObject::destroyed, [told = std::weak_ptr(m_screenClosed)] {
        if (const auto hook = told.lock(); hook && *hook)
            (*hook)();
    });
    fitToScreen(window, true);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void DesktopHost::openWaitNotice(const QString& text)
{
    ++m_noticeDepth;
    if (!m_notice)
        m_notice = new w_message();
    m_notice->showText(text);
}

void DesktopHost::closeWaitNotice()
{
    if (m_noticeDepth > 0)
        --m_noticeDepth;
    if (m_noticeDepth == 0 && m_notice)
        m_notice->hide();
}

w_message* DesktopHost::waitNotice() const
{
    return m_notice;
}
