// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/hookscript.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace hookscript {

namespace {

bool asciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool digit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A character that goes on a name as PostgreSQL reads names: letters, digits,
// _, $ and every character beyond ASCII.
bool nameChar(QChar c)
{
    return c.unicode() >= 0x80 || asciiLetter(c) || digit(c) || c == u'_' || c == u'$';
}

// The tag of a dollar quote ($tag$): no digit first, no $.
bool tagChar(QChar c, bool first)
{
    return c.unicode() >= 0x80 || asciiLetter(c) || c == u'_' || (!first && digit(c));
}

// One past the end of the quoted run that starts at i ('…', E'…', "…",
// $$…$$, $tag$…$tag$); the end of the text when it is not closed; -1 when
// none starts at i. A quote or dollar sign inside a name is part of the name.
qsizetype quotedEnd(const QString& s, qsizetype i, bool backslashEscapes)
{
    const qsizetype n = s.size();
    const QChar c = s[i];
    const QChar before = i > 0 ? s[i - 1] : QChar(u' ');
    if (c == u'\'') {
        const bool escapeString = (before == u'E' || before == u'e') && (i < 2 || !nameChar(s[i - 2]));
        const bool escapes = backslashEscapes || escapeString;
        for (qsizetype j = i + 1; j < n; ++j) {
            if (escapes && s[j] == u'\\') {
                ++j;
            } else if (s[j] == u'\'') {
                if (j + 1 < n && s[j + 1] == u'\'') {
                    ++j;
                    continue;
                }
                return j + 1;
            }
        }
        return n;
    }
    if (c == u'"') {
        for (qsizetype j = i + 1; j < n; ++j) {
            if (s[j] == u'"') {
                if (j + 1 < n && s[j + 1] == u'"') {
                    ++j;
                    continue;
                }
                return j + 1;
            }
        }
        return n;
    }
    // A dollar quote; after a digit PostgreSQL may read one too, which here
    // stays unquoted, so its semicolons split and its words are checked.
    if (c == u'$' && !nameChar(before)) {
        qsizetype j = i + 1;
        while (j < n && tagChar(s[j], j == i + 1))
            ++j;
        if (j < n && s[j] == u'$') {
            const QString delimiter = s.mid(i, j - i + 1);
            const qsizetype close = s.indexOf(delimiter, j + 1);
            return close < 0 ? n : close + delimiter.size();
        }
    }
    return -1;
}

struct Token
{
    QString text; // names upper-cased
    int depth = 0;
    bool word = false;
};

// The tokens of one statement (comments are gone already): names, quoted
// runs, parentheses and single characters, each with its parenthesis depth.
QList<Token> tokens(const QString& s)
{
    QList<Token> out;
    int depth = 0;
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c.isSpace()) {
            ++i;
        } else if (const qsizetype end = quotedEnd(s, i, false); end >= 0) {
            out.append({s.mid(i, end - i), depth, false});
            i = end;
        } else if (nameChar(c) && c != u'$') {
            qsizetype j = i;
            while (j < s.size() && nameChar(s[j]))
                ++j;
            out.append({s.mid(i, j - i).toUpper(), depth, !digit(c)});
            i = j;
        } else if (c == u'(') {
            out.append({QStringLiteral("("), depth++, false});
            ++i;
        } else if (c == u')') {
            out.append({QStringLiteral(")"), --depth, false});
            ++i;
        } else {
            out.append({QString(c), depth, false});
            ++i;
        }
    }
    return out;
}

// Statements on rows: what a hook is for.
const QSet<QString>& rowStatements()
{
    static const QSet<QString> words = {
        QStringLiteral("SELECT"), QStringLiteral("INSERT"),  QStringLiteral("UPDATE"),
        QStringLiteral("DELETE"), QStringLiteral("REPLACE"), QStringLiteral("MERGE"),
        QStringLiteral("VALUES"), QStringLiteral("TABLE"),
    };
    return words;
}

// The refused words of a kind a hook might reach for, and why.
const QHash<QString, QString>& refusedWords()
{
    static const QHash<QString, QString> words = [] {
        QHash<QString, QString> w;
        const QString schema = QStringLiteral("changes the schema");
        for (const char* word :
             {"CREATE", "DROP", "ALTER", "COMMENT", "IMPORT", "SECURITY", "REASSIGN", "REFRESH"})
            w.insert(QString::fromLatin1(word), schema);
        for (const char* word : {"GRANT", "REVOKE"})
            w.insert(QString::fromLatin1(word), QStringLiteral("changes the rights on the database"));
        for (const char* word : {"VACUUM", "REINDEX", "ANALYZE", "ANALYSE", "CLUSTER", "CHECKPOINT"})
            w.insert(QString::fromLatin1(word), QStringLiteral("rebuilds or maintains the database"));
        for (const char* word : {"ATTACH", "DETACH", "COPY", "LOAD"})
            w.insert(QString::fromLatin1(word), QStringLiteral("reaches other files"));
        for (const char* word : {"SET", "RESET", "DISCARD", "DEALLOCATE"})
            w.insert(QString::fromLatin1(word), QStringLiteral("changes the session's settings"));
        for (const char* word : {"DO", "CALL"})
            w.insert(QString::fromLatin1(word),
                     QStringLiteral("runs code whose statements cannot be checked"));
        // TRUNCATE empties a table past its row triggers and the row-level
        // security of a shared database, and locks out every reader of the
        // table until the report's transaction ends: DELETE does the same
        // within those rules.
        w.insert(
            QStringLiteral("TRUNCATE"),
            QStringLiteral("empties a table past its triggers and row-level security (write DELETE FROM)"));
        return w;
    }();
    return words;
}

QString unquoted(const QString& name)
{
    if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'[' || name.front() == u'`'))
        return name.mid(1, name.size() - 2).toLower();
    return name.toLower();
}

// A PRAGMA that reads may stay; one that sets (name = value, or the call form
// of a setting) or acts on the file may not.
std::optional<Refusal> pragmaRefusal(const QList<Token>& t, qsizetype at)
{
    qsizetype i = at + 1;
    QString name = i < t.size() ? unquoted(t[i].text) : QString();
    if (i + 2 < t.size() && t[i + 1].text == u".") {
        i += 2;
        name = unquoted(t[i].text);
    }
    const Refusal writes{QStringLiteral("PRAGMA ") + name, QStringLiteral("changes the database's settings")};
    if (name.isEmpty())
        return writes;
    for (qsizetype j = i + 1; j < t.size(); ++j)
        if (t[j].text == u"=")
            return writes;
    static const QSet<QString> readsWithArgument = {
        QStringLiteral("table_info"),       QStringLiteral("table_xinfo"),
        QStringLiteral("table_list"),       QStringLiteral("index_info"),
        QStringLiteral("index_xinfo"),      QStringLiteral("index_list"),
        QStringLiteral("foreign_key_list"), QStringLiteral("foreign_key_check"),
        QStringLiteral("integrity_check"),  QStringLiteral("quick_check"),
    };
    static const QSet<QString> acts = {QStringLiteral("optimize"), QStringLiteral("wal_checkpoint"),
                                       QStringLiteral("incremental_vacuum"), QStringLiteral("shrink_memory")};
    const bool argument = i + 1 < t.size() && t[i + 1].text == u"(";
    if ((argument && !readsWithArgument.contains(name)) || acts.contains(name))
        return writes;
    return std::nullopt;
}

} // namespace

Script split(const QString& text, bool backslashEscapes)
{
    Script out;
    QString current;
    auto flush = [&](qsizetype end) {
        const QString statement = current.trimmed();
        if (!statement.isEmpty()) {
            out.statements << statement;
            out.ends << end;
        }
        current.clear();
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        const QChar next = i + 1 < n ? text[i + 1] : QChar();
        if (c == u'-' && next == u'-') {
            const qsizetype eol = text.indexOf(u'\n', i);
            i = eol < 0 ? n : eol; // the line break stays
        } else if (c == u'/' && next == u'*') {
            const qsizetype close = text.indexOf(QStringLiteral("*/"), i + 2);
            if (close < 0) {
                // Left in: the rest is refused or named by the database, never silently dropped.
                current += QStringView(text).mid(i);
                i = n;
            } else {
                current += u' ';
                i = close + 2;
            }
        } else if (const qsizetype end = quotedEnd(text, i, backslashEscapes); end >= 0) {
            out.runs << i << end;
            current += QStringView(text).mid(i, end - i);
            i = end;
        } else if (c == u';') {
            flush(i);
            ++i;
        } else {
            current += c;
            ++i;
        }
    }
    flush(n);
    return out;
}

qsizetype ambiguousStatement(const QString& text)
{
    const Script on = split(text, false);
    const Script off = split(text, true);
    if (on.runs == off.runs)
        return -1;
    qsizetype k = 0;
    while (k < on.runs.size() && k < off.runs.size() && on.runs[k] == off.runs[k])
        ++k;
    // The run where the two readings part: its start.
    k -= k % 2;
    qsizetype at = text.size();
    if (k < on.runs.size())
        at = std::min(at, on.runs[k]);
    if (k < off.runs.size())
        at = std::min(at, off.runs[k]);
    for (qsizetype i = 0; i < on.ends.size(); ++i)
        if (on.ends[i] > at)
            return i;
    return std::max<qsizetype>(0, on.statements.size() - 1);
}

std::optional<Refusal> refusal(const QString& statement)
{
    const QList<Token> t = tokens(statement);
    const Refusal notForHooks{QString(), QStringLiteral("is not a statement on rows")};

    // The statement's own word, past opening parentheses, EXPLAIN and WITH.
    qsizetype at = 0;
    while (at < t.size() && t[at].text == u"(")
        ++at;
    if (at >= t.size() || !t[at].word)
        return notForHooks;
    const int depth = t[at].depth;
    for (;;) {
        if (t[at].text == u"EXPLAIN") {
            static const QSet<QString> options = {QStringLiteral("ANALYZE"), QStringLiteral("ANALYSE"),
                                                  QStringLiteral("VERBOSE"), QStringLiteral("QUERY"),
                                                  QStringLiteral("PLAN")};
            ++at;
            while (at < t.size() && (t[at].depth > depth || t[at].text == u"(" || t[at].text == u")" ||
                                     options.contains(t[at].text)))
                ++at;
            if (at >= t.size() || !t[at].word)
                return notForHooks;
            continue;
        }
        if (t[at].text == u"WITH") {
            // The first statement word after a parenthesis closed at this depth:
            // the one after the last common table (or after its SEARCH or CYCLE clause).
            bool closed = false;
            qsizetype main = -1;
            for (qsizetype j = at + 1; j < t.size() && main < 0; ++j) {
                if (t[j].depth != depth)
                    continue;
                if (t[j].text == u")")
                    closed = true;
                else if (closed && t[j].word && rowStatements().contains(t[j].text))
                    main = j;
            }
            if (main < 0)
                return Refusal{QStringLiteral("WITH"), notForHooks.why};
            at = main;
        }
        break;
    }
    const QString word = t[at].text;
    if (word == u"PRAGMA")
        return pragmaRefusal(t, at);
    if (const auto it = refusedWords().constFind(word); it != refusedWords().constEnd())
        return Refusal{word, *it};
    if (!rowStatements().contains(word))
        return Refusal{word, notForHooks.why};

    // SELECT … INTO makes a table on PostgreSQL; the one INTO a statement on
    // rows may have follows its own word (INSERT INTO, INSERT OR REPLACE INTO, MERGE INTO).
    qsizetype into = -1;
    if (word == u"INSERT" || word == u"REPLACE" || word == u"MERGE") {
        into = at + 1;
        if (word == u"INSERT" && into + 1 < t.size() && t[into].text == u"OR")
            into += 2;
    }
    for (qsizetype j = 0; j < t.size(); ++j)
        if (t[j].depth <= depth && t[j].word && t[j].text == u"INTO" && j != into)
            return Refusal{QStringLiteral("SELECT … INTO"), QStringLiteral("creates a table")};
    return std::nullopt;
}

} // namespace hookscript
