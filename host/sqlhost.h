// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QString>
#include <QVariantMap>

// The application's own host routines: each runs the SQL file <routine>.sql of
// the hooks folder when it exists and does nothing otherwise. Statements are
// separated by semicolons; the routine's arguments are bound by name
// (:flag, :period, :region, :table, :opening, :cumulative). A failing hook
// names its file and the database's text and leaves nothing written. A file
// with a statement that is not one on rows (a transaction's, the schema's, a
// setting's, another file's: see hookscript.h) is refused before any of it runs.
class SqlHost : public Host
{
public:
    SqlHost(Sqlca& sqlca, QString hooksDir);

    Sqlca& sqlca() override { return m_sqlca; }
    QString hooksDir() const { return m_hooksDir; }
    void setHooksDir(const QString& dir) { m_hooksDir = dir; }

    Status uf_zzye(int flag) override;
    Status uf_yqmx(const QString& period, int flag) override;
    Status uf_ysss(const QString& period) override;
    Status uf_allstats(const QString& region, const QString& period) override;
    Status uf_update_report(const QString& table, const QString& opening, const QString& cumulative) override;

    // Runs <routine>.sql with the given arguments (exposed for tests and tools).
    Status runHook(const QString& routine, const QVariantMap& args);

    // The word that makes a statement end or open a transaction (COMMIT, BEGIN, …), else empty.
    static QString transactionWord(const QString& statement);

    // Splits a script at semicolons outside quotes, quoted names, comments and
    // dollar quotes; comments are left out.
    static QStringList splitStatements(const QString& script);

private:
    Sqlca& m_sqlca;
    QString m_hooksDir;
};
