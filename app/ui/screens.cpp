// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/screens.h"

#include "foundation/ui/modulewindow.h"

// Each screen comes with its own folder; the host lists it as soon as its
// header is there. A screen class is constructed as Screen(UiHost&, QWidget* parent).
#if __has_include("report/ui/w_xmjdzl.h")
#include "report/ui/w_xmjdzl.h"
#define ALLSTATS_HAS_W_XMJDZL 1
#endif
#if __has_include("analysis/ui/w_trend.h")
#include "analysis/ui/w_trend.h"
#define ALLSTATS_HAS_W_TREND 1
#endif
#if __has_include("schemes/ui/w_zbfa_set.h")
#include "schemes/ui/w_zbfa_set.h"
#define ALLSTATS_HAS_W_ZBFA_SET 1
#endif
#if __has_include("catalogue/ui/w_guide_set.h")
#include "catalogue/ui/w_guide_set.h"
#define ALLSTATS_HAS_W_GUIDE_SET 1
#endif

namespace {

QList<ScreenEntry> knownScreens()
{
    QList<ScreenEntry> list{
        {QStringLiteral("w_xmjdzl"), QStringLiteral("项目进度及借款质量表"), {}},
        {QStringLiteral("w_zbfa_set"), QStringLiteral("统计指标方案"), {}},
        {QStringLiteral("w_guide_set"), QStringLiteral("统计指标管理"), {}},
        {QStringLiteral("w_trend"), QStringLiteral("指标趋势分析"), {}},
    };
#ifdef ALLSTATS_HAS_W_XMJDZL
    list[0].create = [](UiHost& host, QWidget* parent) -> ModuleWindow* {
        return new w_xmjdzl(host, parent);
    };
#endif
#ifdef ALLSTATS_HAS_W_ZBFA_SET
    list[1].create = [](UiHost& host, QWidget* parent) -> ModuleWindow* {
        return new w_zbfa_set(host, parent);
    };
#endif
#ifdef ALLSTATS_HAS_W_GUIDE_SET
    list[2].create = [](UiHost& host, QWidget* parent) -> ModuleWindow* {
        return new w_guide_set(host, parent);
    };
#endif
#ifdef ALLSTATS_HAS_W_TREND
    list[3].create = [](UiHost& host, QWidget* parent) -> ModuleWindow* { return new w_trend(host, parent); };
#endif
    return list;
}

} // namespace

QList<ScreenEntry>& screens()
{
    static QList<ScreenEntry> list = knownScreens();
    return list;
}

const ScreenEntry* findScreen(const QString& name)
{
    for (const ScreenEntry& e : screens())
        if (e.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

void registerScreen(const QString& name, const QString& caption,
                    std::function<ModuleWindow*(UiHost& host, QWidget* parent)> create)
{
    for (ScreenEntry& e : screens()) {
        if (e.name == name) {
            if (!caption.isEmpty())
                e.caption = caption;
            e.create = std::move(create);
            return;
        }
    }
    screens().append({name, caption, std::move(create)});
}
