// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/ui/quiethost.h"

#include "foundation/ui/uihost.h"

QuietHost::QuietHost(UiHost& host) : m_host(host)
{
    gs_usergrant = host.gs_usergrant;
    gs_kjqj = host.gs_kjqj;
    gs_userqybm = host.gs_userqybm;
    signedInRole = host.signedInRole;
    regionScope = host.regionScope;
}

Sqlca& QuietHost::sqlca()
{
    return m_host.sqlca();
}

Status QuietHost::uf_zzye(int flag)
{
    return m_host.uf_zzye(flag);
}

Status QuietHost::uf_yqmx(const QString& period, int flag)
{
    return m_host.uf_yqmx(period, flag);
}

Status QuietHost::uf_ysss(const QString& period)
{
    return m_host.uf_ysss(period);
}

Status QuietHost::uf_allstats(const QString& region, const QString& period)
{
    return m_host.uf_allstats(region, period);
}

Status QuietHost::uf_update_report(const QString& table, const QString& opening, const QString& cumulative)
{
    return m_host.uf_update_report(table, opening, cumulative);
}
