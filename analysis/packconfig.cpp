// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/packconfig.h"

#include "analysis/pack.h"
#include "foundation/dbname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString kPasswordHome = QStringLiteral("/var/lib/allstats/.pgpass");

bool isSeconds(const QString& v)
{
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok && n >= 0;
}

bool isYesOrNo(const QString& v)
{
    static const QStringList words = {QStringLiteral("yes"),   QStringLiteral("no"), QStringLiteral("true"),
                                      QStringLiteral("false"), QStringLiteral("1"),  QStringLiteral("0")};
    return words.contains(v.toLower());
}

} // namespace

bool PackConfig::has(const QString& key) const
{
    for (const PackConfigEntry& e : entries)
        if (e.key == key)
            return true;
    return false;
}

QString PackConfig::value(const QString& key) const
{
    for (const PackConfigEntry& e : entries)
        if (e.key == key)
            return e.value;
    return {};
}

const QStringList& packConfigKeys()
{
    static const QStringList keys = {
        QStringLiteral("db"),       QStringLiteral("scheme"),    QStringLiteral("region"),
        QStringLiteral("level"),    QStringLiteral("format"),    QStringLiteral("folder"),
        QStringLiteral("headline"), QStringLiteral("landscape"), QStringLiteral("hooks"),
        QStringLiteral("wait"),     QStringLiteral("timeout")};
    return keys;
}

const QStringList& packConfigRequiredKeys()
{
    static const QStringList keys = {QStringLiteral("db"), QStringLiteral("scheme"), QStringLiteral("region"),
                                     QStringLiteral("level"), QStringLiteral("folder")};
    return keys;
}

std::optional<QStringList> packFormatList(const QString& text)
{
    static const QStringList known = {QStringLiteral("json"), QStringLiteral("csv"), QStringLiteral("xlsx"),
                                      QStringLiteral("pdf")};
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    QStringList out;
    for (const QString& item : text.split(separators, Qt::SkipEmptyParts)) {
        const QString f = item.toLower();
        if (!known.contains(f))
            return std::nullopt;
        if (!out.contains(f))
            out << f;
    }
    if (out.isEmpty())
        return std::nullopt;
    return out;
}

std::optional<PackConfig> readPackConfig(const QString& path, QString* error)
{
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the configuration %1: %2")
                     .arg(path, QFileInfo::exists(path) ? f.errorString() : QStringLiteral("no such file"));
        return std::nullopt;
    }
    const QByteArray text = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read the configuration %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    const bool othersMayRead = f.permissions().testFlag(QFileDevice::ReadOther);
    return parsePackConfig(path, text, othersMayRead, error);
}

std::optional<PackConfig> parsePackConfig(const QString& path, const QByteArray& text, bool othersMayRead,
                                          QString* error)
{
    PackConfig config;
    config.path = path;
    QString all = QString::fromUtf8(text);
    if (all.startsWith(QChar(0xFEFF)))
        all.remove(0, 1);
    const QStringList lines = all.split(u'\n');
    auto refuse = [&](int line, const QString& why) {
        *error = QStringLiteral("%1:%2: %3").arg(path, QString::number(line), why);
        return std::nullopt;
    };
    // A line is echoed in a message only through hidePassword(): a mistyped db line may hold one.
    for (int i = 0; i < lines.size(); ++i) {
        const int line = i + 1;
        const QString l = lines[i].trimmed();
        if (l.isEmpty() || l.startsWith(u'#'))
            continue;
        const qsizetype eq = l.indexOf(u'=');
        if (eq < 0)
            return refuse(line, QStringLiteral("not a \"key = value\" line: %1").arg(hidePassword(l)));
        const QString key = l.left(eq).trimmed();
        const QString value = l.mid(eq + 1).trimmed();
        if (!packConfigKeys().contains(key))
            return refuse(line, QStringLiteral("unknown key \"%1\" (the keys are %2)")
                                    .arg(hidePassword(key), packConfigKeys().join(QStringLiteral(", "))));
        for (const PackConfigEntry& e : std::as_const(config.entries))
            if (e.key == key)
                return refuse(
                    line, QStringLiteral("\"%1\" is given twice (first on line %2)").arg(key).arg(e.line));
        if (value.isEmpty())
            return refuse(line, QStringLiteral("\"%1\" has no value").arg(key));

        if (key == u"level" && packLevelLength(value) == 0)
            return refuse(line, QStringLiteral("level must be village, town, county or city: %1").arg(value));
        if (key == u"format" && !packFormatList(value))
            return refuse(
                line, QStringLiteral("format must be json, csv, xlsx or pdf, several separated by commas: %1")
                          .arg(value));
        if (key == u"landscape" && !isYesOrNo(value))
            return refuse(line, QStringLiteral("landscape must be yes or no: %1").arg(value));
        if ((key == u"wait" || key == u"timeout") && !isSeconds(value))
            return refuse(line, QStringLiteral("%1 must be a whole number of seconds: %2").arg(key, value));
        if (key == u"folder" && QDir::isRelativePath(value))
            return refuse(line, QStringLiteral("folder must be an absolute path: %1").arg(value));
        // Never echo the value of db: it may hold the password.
        if (key == u"db" && othersMayRead && hasPassword(value))
            return refuse(line, QStringLiteral("the database password must not be in a file every user can "
                                               "read: leave it out of db and put it into ~/.pgpass of the "
                                               "user the pack runs as (%1 for the allstats service)")
                                    .arg(kPasswordHome));
        config.entries.append({key, value, line});
    }
    for (const QString& key : packConfigRequiredKeys())
        if (!config.has(key)) {
            *error = QStringLiteral("%1: \"%2\" is missing (every pack names %3)")
                         .arg(path, key, packConfigRequiredKeys().join(QStringLiteral(", ")));
            return std::nullopt;
        }
    return config;
}
