// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/dbname.h"

#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>

namespace {

bool isPostgresScheme(const QString& text)
{
    return text.startsWith(QStringLiteral("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QStringLiteral("postgres://"), Qt::CaseInsensitive);
}

// Where the user part of a URL-like text starts: after "://" when it comes before the '@'.
qsizetype credentialsStart(const QString& text, qsizetype at)
{
    const qsizetype sep = text.indexOf(QStringLiteral("://"));
    return sep >= 0 && sep < at ? sep + 3 : 0;
}

bool validParameter(const QString& name, const QString& value, QString* why)
{
    if (value.contains(u';')) {
        // The driver splits its connection options at semicolons.
        *why = QStringLiteral("the value of %1 may not hold a semicolon").arg(name);
        return false;
    }
    if (name == u"sslmode") {
        static const QStringList modes = {QStringLiteral("disable"),   QStringLiteral("allow"),
                                          QStringLiteral("prefer"),    QStringLiteral("require"),
                                          QStringLiteral("verify-ca"), QStringLiteral("verify-full")};
        if (!modes.contains(value)) {
            *why =
                QStringLiteral("sslmode must be one of %1: %2").arg(modes.join(QStringLiteral(", ")), value);
            return false;
        }
    } else if (name == u"connect_timeout") {
        bool ok = false;
        const int seconds = value.toInt(&ok);
        if (!ok || seconds < 0) {
            *why = QStringLiteral("connect_timeout must be a whole number of seconds: %1").arg(value);
            return false;
        }
    } else if (value.isEmpty()) {
        *why = QStringLiteral("the parameter %1 has no value").arg(name);
        return false;
    }
    return true;
}

std::optional<DatabaseName> parsePostgres(const QString& text, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<DatabaseName> {
        *error = QStringLiteral("not a valid PostgreSQL URL: %1 (%2)").arg(hidePassword(text), why);
        return std::nullopt;
    };
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("expected postgresql://user@host:port/database"));
    DatabaseName name;
    name.kind = DatabaseName::Kind::PostgreSQL;
    name.host = url.host();
    name.port = url.port(5432);
    name.database = url.path().mid(1);
    name.user = url.userName();
    name.password = url.password();
    if (name.host.isEmpty() || name.database.isEmpty() || name.database.contains(u'/'))
        return fail(QStringLiteral("expected postgresql://user@host:port/database"));
    const QUrlQuery query(url);
    QSet<QString> seen;
    QStringList unknown;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (seen.contains(key))
            return fail(QStringLiteral("the parameter %1 is given twice").arg(key));
        seen.insert(key);
        if (key == u"schema") {
            name.schema = value;
            continue;
        }
        if (!postgresUrlParameters().contains(key)) {
            unknown << key;
            continue;
        }
        if (QString why; !validParameter(key, value, &why))
            return fail(why);
        name.parameters << key + u'=' + value;
    }
    if (!unknown.isEmpty())
        return fail(
            QStringLiteral("unknown parameter %1; known: schema, %2")
                .arg(unknown.join(QStringLiteral(", ")), postgresUrlParameters().join(QStringLiteral(", "))));
    return name;
}

} // namespace

const QStringList& postgresUrlParameters()
{
    static const QStringList names = {
        QStringLiteral("sslmode"), QStringLiteral("sslrootcert"),     QStringLiteral("sslcert"),
        QStringLiteral("sslkey"),  QStringLiteral("connect_timeout"), QStringLiteral("application_name"),
        QStringLiteral("options"),
    };
    return names;
}

std::optional<DatabaseName> parseDatabaseName(const QString& raw, QString* error)
{
    const QString text = raw.trimmed();
    if (text.isEmpty()) {
        *error = QStringLiteral("no database given");
        return std::nullopt;
    }
    if (isPostgresScheme(text))
        return parsePostgres(text, error);
    DatabaseName name;
    name.path = text.startsWith(QStringLiteral("sqlite:")) ? text.mid(7) : text;
    // A mistyped URL (pgsql://…, postgresql:/…, postgresql:user:secret@host)
    // would otherwise become a new file named after it, password and all.
    // A real folder may carry an '@' in its name (a home folder such as
    // /home/user@domain); an '@' or "://" anywhere else is a URL mistyped.
    const QFileInfo file(name.path);
    const bool urlLike = text.contains(QStringLiteral("://")) || file.fileName().contains(u'@') ||
                         (text.contains(u'@') && !QFileInfo(file.absolutePath()).isDir());
    if (urlLike && !file.isFile()) {
        *error = QStringLiteral("not a database: %1 is neither an existing SQLite file nor a PostgreSQL URL "
                                "(postgresql://user@host:port/database)")
                     .arg(hidePassword(text));
        return std::nullopt;
    }
    return name;
}

QString hidePassword(const QString& raw)
{
    const QString text = raw.trimmed();
    const qsizetype at = text.lastIndexOf(u'@');
    if (at < 0)
        return text;
    const qsizetype colon = text.indexOf(u':', credentialsStart(text, at));
    if (colon < 0 || colon > at)
        return text;
    return text.left(colon) + text.mid(at);
}

bool hasPassword(const QString& text)
{
    return hidePassword(text) != text.trimmed();
}

QString passwordOf(const QString& text)
{
    const QString t = text.trimmed();
    if (!isPostgresScheme(t))
        return QString();
    return QUrl(t, QUrl::StrictMode).password();
}

QString withPassword(const QString& raw, const QString& password)
{
    if (!isPostgresScheme(raw.trimmed()))
        return raw.trimmed();
    const QString text = hidePassword(raw);
    const qsizetype at = text.lastIndexOf(u'@');
    const qsizetype start = credentialsStart(text, at < 0 ? text.size() : at);
    if (password.isEmpty())
        return text;
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(password));
    if (at < 0)
        return text.left(start) + u':' + encoded + u'@' + text.mid(start);
    return text.left(at) + u':' + encoded + text.mid(at);
}

QString userOf(const QString& text)
{
    const QString t = text.trimmed();
    if (!isPostgresScheme(t))
        return QString();
    return QUrl(t, QUrl::StrictMode).userName();
}

QString withUser(const QString& raw, const QString& user)
{
    const QString text = raw.trimmed();
    if (!isPostgresScheme(text))
        return text;
    const qsizetype start = text.indexOf(QStringLiteral("://")) + 3;
    // The authority ends at the path; an '@' after it is no part of the user.
    qsizetype end = text.indexOf(u'/', start);
    if (end < 0)
        end = text.size();
    const qsizetype at = text.lastIndexOf(u'@', end - 1);
    QString credentials;
    if (at >= start) {
        credentials = text.mid(start, at - start);
    }
    const qsizetype colon = credentials.indexOf(u':');
    const QString password = colon >= 0 ? credentials.mid(colon) : QString();
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(user));
    const QString rest = at >= start ? text.mid(at + 1) : text.mid(start);
    if (user.isEmpty() && password.isEmpty())
        return text.left(start) + rest;
    return text.left(start) + encoded + password + u'@' + rest;
}

QString serverKey(const QString& text)
{
    QString why;
    const std::optional<DatabaseName> name = parseDatabaseName(text, &why);
    if (!name || !name->isPostgres())
        return QString();
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(name->user)), name->host)
        .arg(name->port)
        .arg(name->database);
}
