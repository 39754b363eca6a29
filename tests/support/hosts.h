// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Hosts that note what a statistics run asks of them: every routine call with
// its arguments, in order, answered by the host they are built on (routines
// that do nothing, or the SQL hooks of SqlHost).

#include "foundation/host.h"

#include <QStringList>
#include <functional>

// Notes each routine as "uf_yqmx(202409,0)" and the wait notice as
// "open w_message" / "close w_message", then answers as Base does. The routine
// named in `failOn` fails instead, as a host whose refresh breaks; `effect`
// runs after a routine that succeeded (the figures a refresh writes, say).
template <class Base> class Recording : public Base
{
public:
    using Base::Base;

    QStringList calls;
    QString failOn;
    std::function<Status(const QString& routine, const QStringList& args)> effect;

    // The calls of one routine (or other noted name), whatever their arguments.
    int count(const QString& name) const
    {
        int n = 0;
        for (const QString& call : calls)
            n += call == name || call.startsWith(name + u'(');
        return n;
    }
    bool ran(const QString& name) const { return count(name) > 0; }
    // The calls without their arguments.
    QStringList names() const
    {
        QStringList out;
        for (const QString& call : calls)
            out << call.section(u'(', 0, 0);
        return out;
    }

    Status uf_zzye(int flag) override
    {
        return answer(QStringLiteral("uf_zzye"), {QString::number(flag)},
                      [&] { return Base::uf_zzye(flag); });
    }
    Status uf_yqmx(const QString& period, int flag) override
    {
        return answer(QStringLiteral("uf_yqmx"), {period, QString::number(flag)},
                      [&] { return Base::uf_yqmx(period, flag); });
    }
    Status uf_ysss(const QString& period) override
    {
        return answer(QStringLiteral("uf_ysss"), {period}, [&] { return Base::uf_ysss(period); });
    }
    Status uf_allstats(const QString& region, const QString& period) override
    {
        return answer(QStringLiteral("uf_allstats"), {region, period},
                      [&] { return Base::uf_allstats(region, period); });
    }
    Status uf_update_report(const QString& table, const QString& opening, const QString& cumulative) override
    {
        return answer(QStringLiteral("uf_update_report"), {table, opening, cumulative},
                      [&] { return Base::uf_update_report(table, opening, cumulative); });
    }
    void openWaitNotice(const QString& text) override
    {
        calls << QStringLiteral("open w_message");
        Base::openWaitNotice(text);
    }
    void closeWaitNotice() override
    {
        calls << QStringLiteral("close w_message");
        Base::closeWaitNotice();
    }

private:
    template <class Answer> Status answer(const QString& routine, const QStringList& args, Answer base)
    {
        calls << routine + u'(' + args.join(u',') + u')';
        if (routine == failOn)
            return Status::failure(failOn + QStringLiteral(": the host could not refresh"));
        Status s = base();
        if (s && effect)
            s = effect(routine, args);
        return s;
    }
};

// A host whose routines do nothing: the figures are what the test put in the
// database. Interface is Host, or UiHost for the widget tests' host.
template <class Interface> class Plain : public Interface
{
public:
    explicit Plain(Sqlca& sqlca) : m_sqlca(sqlca) {}
    Sqlca& sqlca() override { return m_sqlca; }
    Status uf_zzye(int) override { return Status::success(); }
    Status uf_yqmx(const QString&, int) override { return Status::success(); }
    Status uf_ysss(const QString&) override { return Status::success(); }
    Status uf_allstats(const QString&, const QString&) override { return Status::success(); }
    Status uf_update_report(const QString&, const QString&, const QString&) override
    {
        return Status::success();
    }

private:
    Sqlca& m_sqlca;
};

// The core tests' recording host; Recording<SqlHost> notes the calls of the real hooks.
using RecordingHost = Recording<Plain<Host>>;
