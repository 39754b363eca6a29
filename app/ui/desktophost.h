// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/uihost.h"
#include "host/sqlhost.h"

#include <QPointer>
#include <functional>
#include <memory>

class w_message;

// Sizes and places a window that is about to show so that it fits the screen
// it opens on: centred at its design size (grown towards 90 % of the screen
// when `grow`), or over the whole available screen, maximised, when the design
// size does not fit.
void fitToScreen(QWidget* window, bool grow);

// The application's host: the globals, the refresh routines (SQL hooks run by
// SqlHost), the layout routines and the host windows (wait notice, region
// picker), the spreadsheet export and the screen opener.
class DesktopHost final : public UiHost
{
public:
    DesktopHost(Sqlca* sqlca, const QString& hooksDir);
    ~DesktopHost() override;
    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;

    // The session's connection; replaced when the user changes the database.
    Sqlca& sqlca() override { return *m_sqlca; }
    bool connected() const { return m_sqlca != nullptr; }
    void setSqlca(Sqlca* sqlca);
    QString hooksDir() const { return m_hooksDir; }
    void setHooksDir(const QString& dir) { m_hooksDir = dir; }

    Status uf_zzye(int flag) override;
    Status uf_yqmx(const QString& period, int flag) override;
    Status uf_ysss(const QString& period) override;
    Status uf_allstats(const QString& region, const QString& period) override;
    Status uf_update_report(const QString& table, const QString& opening, const QString& cumulative) override;

    // Layout: the design geometry of every control is taken from its
    // "designGeometry" property (layout units) and the window's "designSize";
    // a window without them is recorded as it stands. uf_open also gives the
    // controls' area its smallest usable size. uf_resize moves and widens the
    // controls with the window's width; heights stay as designed, except for the
    // controls that run down to the bottom (the grids), which take the new height.
    stru_resize uf_open(QWidget* window) override;
    void uf_resize(QWidget* window, const stru_resize& layout, int newWidth, int newHeight) override;

    void uf_bgcolor(GridView* grid, int flag) override;
    // Asks for a file (chooseSaveFile), writes the grid there and says how it went.
    // 1 written, 0 cancelled, -1 failed.
    int f_dw2excel(GridView* grid) override;
    void w_key() override {}
    void w_xmqxz(QWidget* parent) override;
    QWidget* openScreen(const QString& name, QWidget* parent) override;

    // The wait notice w_message.
    void openWaitNotice(const QString& text) override;
    void closeWaitNotice() override;
    w_message* waitNotice() const;

    // Told when a screen it opened has closed (the main window counts again
    // what the screen may have changed); never after the host is gone.
    void setScreenClosed(std::function<void()> told) { *m_screenClosed = std::move(told); }
    void screenClosed() const
    {
        if (*m_screenClosed)
            (*m_screenClosed)();
    }

    // The save dialog of the export; tests put a path here instead.
    std::function<QString(QWidget* parent, const QString& suggestedPath)> chooseSaveFile;

private:
    Status runHook(const QString& routine, const std::function<Status(SqlHost&)>& call);

    void watchBusyDatabase();
    Sqlca* m_sqlca;
    QString m_noticeText; // the notice's own text while it tells of a busy database
    QString m_hooksDir;
    QPointer<w_message> m_notice;
    std::shared_ptr<std::function<void()>> m_screenClosed = std::make_shared<std::function<void()>>();
    int m_noticeDepth = 0;
};
