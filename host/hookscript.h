// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The host routines' SQL files as the database reads them: statements end at
// a semicolon outside quotes ('…', E'…'), quoted names ("…"), comments (-- …,
// /* … */) and dollar quotes ($$ … $$, $tag$ … $tag$); and what of them a
// hook may run: statements that read and change rows, nothing that changes
// the schema, reaches other files or changes settings.
namespace hookscript {

struct Script
{
    QStringList statements; // comments left out, blanks trimmed
    QList<qsizetype> ends;  // where each statement ends in the text
    QList<qsizetype> runs;  // start and end of every quoted run, in pairs
};

// Splits the text. With backslashEscapes a backslash escapes the next
// character in '…' too, as PostgreSQL reads strings with its setting
// standard_conforming_strings off (E'…' always reads so).
Script split(const QString& text, bool backslashEscapes = false);

// The index of the first statement that PostgreSQL splits or reads otherwise
// with standard_conforming_strings off than on (a backslash before a quote in
// '…'), or -1 when the setting makes no difference.
qsizetype ambiguousStatement(const QString& text);

// What a statement uses that a hook may not, and why.
struct Refusal
{
    QString word; // DROP, ATTACH, PRAGMA journal_mode, SELECT … INTO, …; empty when no word leads
    QString why;  // "changes the schema", …
};
// Nullopt when a hook may run the statement (one of split()'s): SELECT,
// INSERT, UPDATE, DELETE, REPLACE, MERGE, VALUES, TABLE, a WITH or EXPLAIN in
// front of one, and a PRAGMA that reads.
std::optional<Refusal> refusal(const QString& statement);

} // namespace hookscript
