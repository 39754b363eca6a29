// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/sqlhost.h"

#include "foundation/sqlca.h"
#include "host/hookscript.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>

SqlHost::SqlHost(Sqlca& sqlca, QString hooksDir) : m_sqlca(sqlca), m_hooksDir(std::move(hooksDir)) {}

Status SqlHost::uf_zzye(int flag)
{
    return runHook(QStringLiteral("uf_zzye"), {{QStringLiteral("flag"), flag}});
}

Status SqlHost::uf_yqmx(const QString& period, int flag)
{
    return runHook(QStringLiteral("uf_yqmx"),
                   {{QStringLiteral("period"), period}, {QStringLiteral("flag"), flag}});
}

Status SqlHost::uf_ysss(const QString& period)
{
    return runHook(QStringLiteral("uf_ysss"), {{QStringLiteral("period"), period}});
}

Status SqlHost::uf_allstats(const QString& region, const QString& period)
{
    return runHook(QStringLiteral("uf_allstats"),
                   {{QStringLiteral("region"), region}, {QStringLiteral("period"), period}});
}

Status SqlHost::uf_update_report(const QString& table, const QString& opening, const QString& cumulative)
{
    return runHook(QStringLiteral("uf_update_report"), {{QStringLiteral("table"), table},
                                                        {QStringLiteral("opening"), opening},
                                                        {QStringLiteral("cumulative"), cumulative}});
}

QStringList SqlHost::splitStatements(const QString& script)
{
    return hookscript::split(script).statements;
}

QString SqlHost::transactionWord(const QString& statement)
{
    // The leading words, past blanks and opening parentheses (comments are gone already).
    static const QRegularExpression words(QStringLiteral("^[\\s(]*([A-Za-z]+)(?:\\s+([A-Za-z]+))?"));
    const auto m = words.match(statement);
    if (!m.hasMatch())
        return QString();
    const QString first = m.captured(1).toUpper();
    const QString second = m.captured(2).toUpper();
    static const QStringList always = {QStringLiteral("BEGIN"),    QStringLiteral("COMMIT"),
                                       QStringLiteral("ROLLBACK"), QStringLiteral("SAVEPOINT"),
                                       QStringLiteral("RELEASE"),  QStringLiteral("END"),
                                       QStringLiteral("ABORT")};
    if (always.contains(first))
        return first;
    // START TRANSACTION, PREPARE TRANSACTION; PREPARE of a statement is harmless.
    if ((first == u"START" || first == u"PREPARE") && second == u"TRANSACTION")
        return first + u' ' + second;
    return QString();
}

Status SqlHost::runHook(const QString& routine, const QVariantMap& args)
{
    if (m_hooksDir.isEmpty())
        return Status::success();
    const QString path = QDir(m_hooksDir).filePath(routine + QStringLiteral(".sql"));
    QFile file(path);
    if (!file.exists())
        return Status::success();
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QString script = QString::fromUtf8(file.readAll());
    if (script.startsWith(QChar(0xFEFF))) // a byte-order mark is no part of the first statement
        script.remove(0, 1);
    const QStringList statements = splitStatements(script);
    auto shown = [&](qsizetype i) { return statements.value(i).simplified().left(60); };

    // PostgreSQL reads a backslash in '…' by its setting standard_conforming_strings,
    // which a statement can change: a file it would split otherwise is refused.
    if (!m_sqlca.dialect().isSQLite()) {
        if (const qsizetype i = hookscript::ambiguousStatement(script); i >= 0)
            return Status::failure(
                QStringLiteral("%1: statement %2 (\"%3\") has a backslash before a quote in a string, "
                               "which PostgreSQL reads one way or another as its setting "
                               "standard_conforming_strings says; write a quote in a string as ''")
                    .arg(path)
                    .arg(i + 1)
                    .arg(shown(i)));
    }

    // A hook runs inside the caller's transaction (a savepoint): a statement
    // that ends or opens a transaction would let its writes escape the undo of
    // a failing hook, and a report changes no schema, reaches no other file
    // and leaves the session's settings as they are; such a file is refused
    // before anything of it runs.
    for (int i = 0; i < statements.size(); ++i) {
        if (const QString word = transactionWord(statements[i]); !word.isEmpty())
            return Status::failure(
                QStringLiteral("%1: statement %2 (\"%3\") ends or opens a transaction; a hook "
                               "runs inside the report's own transaction and may not use %4")
                    .arg(path)
                    .arg(i + 1)
                    .arg(shown(i), word));
        if (const auto refused = hookscript::refusal(statements[i])) {
            return Status::failure(
                QStringLiteral("%1: statement %2 (\"%3\") %4; a hook reads and changes rows only %5")
                    .arg(path)
                    .arg(i + 1)
                    .arg(shown(i), refused->why,
                         refused->word.isEmpty() ? QStringLiteral("(SELECT, INSERT, UPDATE, DELETE, …)")
                                                 : QStringLiteral("and may not use ") + refused->word));
        }
    }

    static const QRegularExpression placeholder(QStringLiteral("(?<![:\\w]):([A-Za-z_]\\w*)"));
    TransactionGuard tx(m_sqlca);
    if (!tx.active())
        return Status::failure(QStringLiteral("%1: %2").arg(path, m_sqlca.SQLErrText));
    for (const QString& statement : statements) {
        // Named arguments become positional binds, so quotes and casts are left alone.
        QString sql;
        QVariantList binds;
        int last = 0;
        auto it = placeholder.globalMatch(statement);
        while (it.hasNext()) {
            const auto m = it.next();
            const QString name = m.captured(1);
            if (!args.contains(name))
                return Status::failure(QStringLiteral("%1: unknown argument :%2 (this routine takes %3)")
                                           .arg(path, name,
                                                QStringList(args.keys())
                                                    .replaceInStrings(QRegularExpression(QStringLiteral("^")),
                                                                      QStringLiteral(":"))
                                                    .join(QStringLiteral(", "))));
            sql += statement.mid(last, m.capturedStart() - last) + u'?';
            binds << args.value(name);
            last = int(m.capturedEnd());
        }
        sql += statement.mid(last);
        if (!m_sqlca.execute(sql, binds))
            return Status::failure(QStringLiteral("%1: %2").arg(path, m_sqlca.SQLErrText));
    }
    if (!tx.commit())
        return Status::failure(QStringLiteral("%1: %2").arg(path, m_sqlca.SQLErrText));
    return Status::success();
}
