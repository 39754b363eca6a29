// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A desktop host for widget tests: real database, recorded routine calls, and
// a layout routine that scales every control with the window as the real one does.

#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/uihost.h"
#include "support/hosts.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>

// The routine calls are noted as Recording does ("uf_allstats(45,202409)"),
// the host's windows and layout routines by their names ("uf_open", "w_xmqxz").
class FakeHost final : public Recording<Plain<UiHost>>
{
public:
    explicit FakeHost(Sqlca& sqlca) : Recording(sqlca) {}

    struct BgColorCall
    {
        QPointer<GridView> grid;
        int flag;
    };

    QList<BgColorCall> bgcolor;      // uf_bgcolor arguments
    QList<QPointer<GridView>> excel; // f_dw2excel arguments
    QList<QSize> resizes;            // uf_resize sizes
    QString pickerAnswer;            // what w_xmqxz leaves in message.stringParm
    QStringList opened;              // openScreen names

    stru_resize uf_open(QWidget* window) override
    {
        calls << QStringLiteral("uf_open");
        stru_resize layout;
        layout.designSize = window->property("designSize").toSize();
        for (QWidget* w : window->findChildren<QWidget*>())
            if (w->property("designGeometry").isValid())
                layout.controls.append({w, w->property("designGeometry").toRect()});
        return layout;
    }

    void uf_resize(QWidget*, const stru_resize& layout, int width, int height) override
    {
        calls << QStringLiteral("uf_resize");
        resizes << QSize(width, height);
        if (layout.designSize.isEmpty())
            return;
        const double sx = double(width) / layout.designSize.width();
        const double sy = double(height) / layout.designSize.height();
        for (const auto& [w, r] : layout.controls)
            if (w)
                w->setGeometry(qRound(r.x() * sx), qRound(r.y() * sy), qRound(r.width() * sx),
                               qRound(r.height() * sy));
    }

    void uf_bgcolor(GridView* grid, int flag) override
    {
        calls << QStringLiteral("uf_bgcolor");
        bgcolor.append({grid, flag});
        grid->setRowColors(flag == 0);
    }

    int f_dw2excel(GridView* grid) override
    {
        calls << QStringLiteral("f_dw2excel");
        excel.append(grid);
        return 1;
    }

    void w_key() override { calls << QStringLiteral("w_key"); }

    void w_xmqxz(QWidget*) override
    {
        calls << QStringLiteral("w_xmqxz");
        message.stringParm = pickerAnswer;
    }

    // Opens the screen for real when set (tests of screens that open each other).
    std::function<QWidget*(const QString& name, QWidget* parent)> screenFactory;

    QWidget* openScreen(const QString& name, QWidget* parent) override
    {
        opened << name;
        return screenFactory ? screenFactory(name, parent) : nullptr;
    }
};
