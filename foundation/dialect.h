// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

enum class Backend
{
    SQLite,
    PostgreSQL,
};

// Every SQL difference between the two backends lives here, chosen once from
// the connection. Statements elsewhere are written with these pieces.
class Dialect final
{
public:
    explicit Dialect(Backend backend) : m_backend(backend) {}
    Backend backend() const { return m_backend; }
    bool isSQLite() const { return m_backend == Backend::SQLite; }

    // isnull(expr, replacement)
    QString isnull(const QString& expr, const QString& replacement) const;
    // left(text, n): the first n characters
    QString left(const QString& expr, const QString& n) const;
    // A money figure on its way into a decimal(2) column: exact on PostgreSQL
    // (the numeric column rounds half away from zero), rounded the same way on SQLite.
    QString money(const QString& expr) const;
    // INSERT INTO table (columns) SELECT ...
    QString insertSelect(const QString& table, const QString& columns, const QString& select) const;
    // DELETE target FROM target, other WHERE condition
    QString joinedDelete(const QString& target, const QString& other, const QString& condition) const;
    // UPDATE target SET assignments FROM target, other WHERE condition
    QString joinedUpdate(const QString& target, const QString& assignments, const QString& other,
                         const QString& condition) const;
    // How the unit codes (H_stat.number) compare, found when connecting.
    enum class UnitCodes
    {
        Bytewise,   // text in a binary collation (the tables this program makes)
        Linguistic, // PostgreSQL text in a collation that does not sort by bytes
        NotText,    // stored as numbers (numeric affinity or a number type)
    };
    void setUnitCodes(UnitCodes codes) { m_unitCodes = codes; }
    UnitCodes unitCodes() const { return m_unitCodes; }

    // The half-open text range [prefix, prefix + U+FFFF) of unit codes as a
    // condition on a column, compared byte by byte: exactly the codes that start
    // with the prefix. On bytewise codes it is an index range scan; otherwise the
    // codes are compared as binary text (the index still serves the period).
    // The bound values are (prefix, upper).
    QString prefixRange(const QString& column) const;
    static QString prefixUpperBound(const QString& prefix);
    // A name as an SQL identifier: in double quotes, a quote in it doubled.
    static QString quoteIdentifier(const QString& name);
    // The unit code of a column as text compared byte by byte (the codes'
    // own form where they are such text).
    QString unitCodeText(const QString& column) const;
    // A text expression followed by U+FFFF: the upper end of the codes that
    // start with it (prefixUpperBound of an expression).
    QString aboveCodesOf(const QString& expr) const;

    // Column types for the schema.
    QString moneyType() const;  // decimal(2)
    QString figureType() const; // figures of H_stat
    QString textType(int length) const;

    // Starting a transaction that takes the write lock at once where one lock
    // serves every writer (SQLite); a plain BEGIN elsewhere.
    QString beginExclusive() const;
    // Starting a transaction that writes, takes the write lock at once where one
    // lock serves every writer (SQLite), and in which each statement sees what
    // others committed before it (PostgreSQL READ COMMITTED, whatever the default).
    QString beginWriteSeeingCommits() const;
    // Starting a transaction whose statements all read one snapshot and that
    // takes no lock another connection waits for: SQLite defers every lock to
    // the first statement that needs it (a read takes none a writer waits for
    // in WAL mode), PostgreSQL reads at REPEATABLE READ.
    QString beginSnapshot() const;
    // A table of this connection's own, which an unqualified name then denotes
    // (both backends search the temporary schema first); its rows stay across
    // commits until this connection empties it or closes.
    QString createTemporaryTable(const QString& name, const QString& columns) const;
    // Empties a table of this connection's own. PostgreSQL never vacuums
    // temporary tables, so deleted rows would stay in its file for good.
    QString emptyOwnTable(const QString& name) const;
    // Serialises creating schemas and tables among concurrent connections
    // (inside a transaction; SQLite's BEGIN IMMEDIATE does it there).
    QString schemaChangeLock() const;
    // Held from reading a kind's highest scheme code to the last insert of the
    // new scheme, so two connections never derive the same code. One bound
    // value, the kind; empty when the write transaction already holds it.
    QString lockSchemeKind() const;

private:
    Backend m_backend;
    UnitCodes m_unitCodes = UnitCodes::Bytewise;
};
