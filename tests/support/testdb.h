// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/sqlca.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// Every backend test runs once per backend. PostgreSQL cases skip themselves
// when no test server is given (ALLSTATS_TEST_PG); `make test` always gives one.
std::vector<Backend> allBackends();
std::string backendParamName(const ::testing::TestParamInfo<Backend>& info);

// A fresh, isolated database: a SQLite file in a temporary folder, or a new
// schema on the PostgreSQL test server (dropped again at the end).
class TestDb final
{
public:
    explicit TestDb(Backend backend, bool createTables = true);
    ~TestDb();

    Sqlca& sqlca() { return *m_sqlca; }
    Backend backend() const { return m_backend; }
    // The DB text that opens this same database again (a second user).
    QString url() const { return m_url; }
    std::unique_ptr<Sqlca> connectAgain() const;
    QString dir() const { return m_dir.path(); }

    // Runs a statement and fails the test when it fails.
    void exec(const QString& sql, const QVariantList& binds = {});

    static bool postgresAvailable();

private:
    Backend m_backend;
    QTemporaryDir m_dir;
    QString m_url;
    QString m_schema;
    std::unique_ptr<Sqlca> m_sqlca;
};

// Base fixture of the backend tests: `db` is ready with the six tables.
class BackendTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override;
    void TearDown() override { db.reset(); }
    Sqlca& sqlca() { return db->sqlca(); }
    std::unique_ptr<TestDb> db;
    virtual bool createTables() const { return true; }
};

#define ALLSTATS_ON_ALL_BACKENDS(Suite)                                                                      \
    INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::ValuesIn(allBackends()), backendParamName)

// Prints QStrings readably in assertion messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(Backend b, std::ostream* os)
{
    *os << (b == Backend::SQLite ? "SQLite" : "PostgreSQL");
}
