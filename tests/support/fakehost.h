#pragma once

// A desktop host for widget tests: real database, recorded routine calls, and
// a layout routine that scales every control with the window as the real one does.

#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/uihost.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>

class FakeHost final : public UiHost
{
public:
    explicit FakeHost(Sqlca& sqlca) : m_sqlca(sqlca) {}

    struct BgColorCall
    {
        QPointer<GridView> grid;
        int flag;
    };

    QStringList calls;               // routine names in call order
    QList<BgColorCall> bgcolor;      // uf_bgcolor arguments
    QList<QPointer<GridView>> excel; // f_dw2excel arguments
    QList<QSize> resizes;            // uf_resize sizes
    QString pickerAnswer;            // what w_xmqxz leaves in message.stringParm
    QStringList opened;              // openScreen names

    Sqlca& sqlca() override { return m_sqlca; }
    Status uf_zzye(int) override { return record(QStringLiteral("uf_zzye")); }
    Status uf_yqmx(const QString&, int) override { return record(QStringLiteral("uf_yqmx")); }
    Status uf_ysss(const QString&) override { return record(QStringLiteral("uf_ysss")); }
    Status uf_allstats(const QString&, const QString&) override
    {
        return record(QStringLiteral("uf_allstats"));
    }
    Status uf_update_report(const QString&, const QString&, const QString&) override
    {
        return record(QStringLiteral("uf_update_report"));
    }

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

private:
    Status record(const QString& name)
    {
        calls << name;
        return Status::success();
    }

    Sqlca& m_sqlca;
};
