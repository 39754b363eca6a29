// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

class UiHost;

// The desktop host without its wait notice, for screens and dialogs that
// show the progress of their runs themselves; everything else goes to the host.
class QuietHost final : public Host
{
public:
    explicit QuietHost(UiHost& host);
    Q_DISABLE_COPY_MOVE(QuietHost)

    Sqlca& sqlca() override;
    Status uf_zzye(int flag) override;
    Status uf_yqmx(const QString& period, int flag) override;
    Status uf_ysss(const QString& period) override;
    Status uf_allstats(const QString& region, const QString& period) override;
    Status uf_update_report(const QString& table, const QString& opening, const QString& cumulative) override;

private:
    UiHost& m_host;
};
