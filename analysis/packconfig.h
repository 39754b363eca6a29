// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The configuration of a scheduled pack, /etc/allstats/packs.d/NAME.conf:
// one "key = value" per line, blank lines and lines starting with '#' left
// aside, a '#' after the '=' part of the value. `allstats pack --config FILE`
// reads it; the command line's own options win over its keys.

// One key as the file gives it.
struct PackConfigEntry
{
    QString key;
    QString value; // trimmed; never empty
    int line = 0;  // 1-based
};

struct PackConfig
{
    QString path;
    QList<PackConfigEntry> entries; // in the file's order, each key once

    bool has(const QString& key) const;
    QString value(const QString& key) const;
};

// Every key a configuration may hold, and those it must hold.
const QStringList& packConfigKeys();
const QStringList& packConfigRequiredKeys();

// The formats of a list such as "xlsx, pdf" (commas or blanks between them),
// each once, in the order given. Nullopt when one is not json, csv, xlsx or pdf
// or the list is empty.
std::optional<QStringList> packFormatList(const QString& text);

// Reads and checks the file. Nullopt with *error when it is refused: "FILE:LINE:
// why" for a line (no '=', an unknown key, a key without a value or given
// twice, a value the key cannot take, a database password in a file others can
// read), "FILE: why" for a required key that is missing or a file that cannot be read.
std::optional<PackConfig> readPackConfig(const QString& path, QString* error);
// The same on the file's text; `othersMayRead` tells whether every user may read it.
std::optional<PackConfig> parsePackConfig(const QString& path, const QByteArray& text, bool othersMayRead,
                                          QString* error);
