#include "host/sqlhost.h"

#include "foundation/sqlca.h"

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
    QStringList out;
    QString current;
    enum
    {
        Plain,
        Quote,
        DoubleQuote,
        LineComment,
        BlockComment
    } state = Plain;
    for (int i = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        const QChar next = i + 1 < script.size() ? script[i + 1] : QChar();
        switch (state) {
        case Plain:
            if (c == u'\'')
                state = Quote;
            else if (c == u'"')
                state = DoubleQuote;
            else if (c == u'-' && next == u'-') {
                state = LineComment;
                ++i;
                continue;
            } else if (c == u'/' && next == u'*') {
                state = BlockComment;
                ++i;
                continue;
            } else if (c == u';') {
                if (!current.trimmed().isEmpty())
                    out << current.trimmed();
                current.clear();
                continue;
            }
            current += c;
            break;
        case Quote:
            current += c;
            if (c == u'\'')
                state = Plain; // '' re-enters Quote on the next character
            break;
        case DoubleQuote:
            current += c;
            if (c == u'"')
                state = Plain;
            break;
        case LineComment:
            if (c == u'\n') {
                state = Plain;
                current += c;
            }
            break;
        case BlockComment:
            if (c == u'*' && next == u'/') {
                state = Plain;
                ++i;
                current += u' ';
            }
            break;
        }
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
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
    const QStringList statements = splitStatements(QString::fromUtf8(file.readAll()));

    // A hook runs inside the caller's transaction (a savepoint): a statement
    // that ends or opens a transaction would let its writes escape the undo of
    // a failing hook, so such a file is refused before anything of it runs.
    for (int i = 0; i < statements.size(); ++i) {
        if (const QString word = transactionWord(statements[i]); !word.isEmpty())
            return Status::failure(
                QStringLiteral("%1: statement %2 (\"%3\") ends or opens a transaction; a hook "
                               "runs inside the report's own transaction and may not use %4")
                    .arg(path)
                    .arg(i + 1)
                    .arg(statements[i].simplified().left(60), word));
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
