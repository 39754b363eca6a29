// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/testdb.h"

#include "foundation/rollup.h"
#include "foundation/schema.h"

#include <QAtomicInt>
#include <QCoreApplication>

namespace {
QAtomicInt g_schemaCounter;
}

std::vector<Backend> allBackends()
{
    return {Backend::SQLite, Backend::PostgreSQL};
}

std::string backendParamName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

bool TestDb::postgresAvailable()
{
    return !qEnvironmentVariableIsEmpty("ALLSTATS_TEST_PG");
}

TestDb::TestDb(Backend backend, bool createTables) : m_backend(backend)
{
    if (backend == Backend::SQLite) {
        m_url = m_dir.filePath(QStringLiteral("test.sqlite"));
    } else {
        m_schema = QStringLiteral("t%1_%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(g_schemaCounter.fetchAndAddRelaxed(1));
        m_url = qEnvironmentVariable("ALLSTATS_TEST_PG") + QStringLiteral("?schema=") + m_schema;
    }
    QString error;
    m_sqlca = Sqlca::connect(m_url, &error, OpenMode::Create);
    if (!m_sqlca)
        throw std::runtime_error("cannot open the test database: " + error.toStdString());
    if (createTables && !schema::create(*m_sqlca, &error))
        throw std::runtime_error("cannot create the tables: " + error.toStdString());
    // As init-db makes them: with the kept per-level figures.
    if (createTables) {
        if (const Status s = rollup::enable(*m_sqlca); !s)
            throw std::runtime_error("cannot enable the kept figures: " + s.error.toStdString());
    }
}

TestDb::~TestDb()
{
    if (!m_schema.isEmpty() && m_sqlca) {
        m_sqlca->rollback();
        m_sqlca->executeImmediate(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(m_schema));
    }
}

std::unique_ptr<Sqlca> TestDb::connectAgain() const
{
    QString error;
    auto s = Sqlca::connect(m_url, &error);
    if (!s)
        ADD_FAILURE() << "second connection failed: " << error.toStdString();
    return s;
}

void TestDb::exec(const QString& sql, const QVariantList& binds)
{
    if (!m_sqlca->execute(sql, binds))
        ADD_FAILURE() << "statement failed: " << sql.toStdString() << "\n  "
                      << m_sqlca->SQLErrText.toStdString();
}

void BackendTest::SetUp()
{
    if (GetParam() == Backend::PostgreSQL && !TestDb::postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL test server (set ALLSTATS_TEST_PG, as `make test` does)";
    db = std::make_unique<TestDb>(GetParam(), createTables());
}
