#include "app/ui/desktophost.h"

#include "app/ui/screens.h"
#include "app/ui/w_message.h"
#include "app/ui/w_xmqxz.h"
#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/modulewindow.h"
#include "host/options.h"
#include "host/xlsxexport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QSettings>

namespace {

const QString kNotice = QStringLiteral("提示信息");

QString defaultSaveFile(QWidget* parent, const QString& suggested)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("保存为Excel文件"), suggested,
                                        QStringLiteral("Excel 工作簿 (*.xlsx)"));
}

QSettings exportSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("allstats"),
                     QStringLiteral("allstats"));
}

// A file name from a grid title: no path separators or characters file systems refuse.
QString fileNameFor(const QString& title)
{
    QString name;
    for (const QChar c : title.trimmed())
        name += QStringLiteral("/\\:*?\"<>|").contains(c) || c.unicode() < 0x20 ? QChar(u'_') : c;
    return name.isEmpty() ? QStringLiteral("报表") : name;
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
        return Status::failure(QStringLiteral("%1: no database is open").arg(routine));
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
    return layout;
}

void DesktopHost::uf_resize(QWidget* window, const stru_resize& layout, int newWidth, int newHeight)
{
    if (!window || layout.designSize.isEmpty() || newWidth <= 0 || newHeight <= 0)
        return;
    const double sx = double(newWidth) / layout.designSize.width();
    const double sy = double(newHeight) / layout.designSize.height();
    // Only controls still inside the window: one may have been deleted since uf_open.
    const QList<QWidget*> alive = window->findChildren<QWidget*>();
    const QSet<QWidget*> present(alive.cbegin(), alive.cend());
    for (const auto& [control, g] : layout.controls) {
        if (!present.contains(control))
            continue;
        const int x = qRound(g.x() * sx);
        const int y = qRound(g.y() * sy);
        const int right = qRound((g.x() + g.width()) * sx);
        const int bottom = qRound((g.y() + g.height()) * sy);
        control->setGeometry(x, y, std::max(1, right - x), std::max(1, bottom - y));
    }
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
    QSettings settings = exportSettings();
    QString folder = settings.value(QStringLiteral("export/folder")).toString();
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = outputDir();
    const QString suggested = QDir(folder).filePath(fileNameFor(grid->title()) + QStringLiteral(".xlsx"));
    QString path = chooseSaveFile ? chooseSaveFile(grid->window(), suggested) : QString();
    if (path.isEmpty())
        return 0;
    if (QFileInfo(path).suffix().compare(QStringLiteral("xlsx"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".xlsx");
    grid->commitOpenEditor();
    const Status s = writeXlsx(grid->buffer(), path);
    if (!s.ok) {
        messages().MessageBox(kNotice, QStringLiteral("保存失败：%1").arg(s.error));
        return -1;
    }
    settings.setValue(QStringLiteral("export/folder"), QFileInfo(path).absolutePath());
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
    ::w_xmqxz picker(*m_sqlca, gs_userqybm, parent);
    if (!picker.loadError().isEmpty())
        messages().MessageBox(QString(), picker.loadError());
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
        messages().MessageBox(kNotice, QStringLiteral("没有打开数据库"));
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
