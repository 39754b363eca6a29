// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Users of a shared database on the PostgreSQL test server: `init-db --roles`
// on the test's schema and real login roles. Roles belong to the whole
// server, so their names carry the process and a counter, and everything made
// here (the users and the schema's group roles) is dropped at the end.

#include "foundation/dbname.h"
#include "foundation/users.h"
#include "support/testdb.h"

#include <QAtomicInt>
#include <QCoreApplication>

inline QAtomicInt g_testRoleCounter;

class TestRoles final
{
public:
    explicit TestRoles(TestDb& db) : m_db(db)
    {
        QString error;
        if (!users::createRoles(db.sqlca(), &error))
            ADD_FAILURE() << "init-db --roles failed: " << error.toStdString();
        if (const auto g = users::groupNames(db.sqlca()))
            m_groups = *g;
    }
    ~TestRoles()
    {
        Sqlca& s = m_db.sqlca();
        s.rollback();
        // As init-db --roles does: one at a time, for the database's privileges
        // are one catalogue row that a GRANT of another test updates too.
        TransactionGuard tx(s);
        s.executeImmediate(s.dialect().schemaChangeLock());
        for (const QString& role : std::as_const(m_roles))
            s.executeImmediate(QStringLiteral("DROP ROLE IF EXISTS %1").arg(quote(role)));
        const QString groups =
            QStringList{quote(m_groups.catalogue), quote(m_groups.report), quote(m_groups.users)}.join(
                QStringLiteral(", "));
        s.executeImmediate(QStringLiteral("DROP OWNED BY %1").arg(groups));
        s.executeImmediate(QStringLiteral("DROP ROLE IF EXISTS %1").arg(groups));
        tx.commit();
    }
    TestRoles(const TestRoles&) = delete;
    TestRoles& operator=(const TestRoles&) = delete;

    // A name no other test process uses; dropped at the end whether it was made or not.
    QString name(const QString& what)
    {
        const QString n = QStringLiteral("u%1_%2_%3")
                              .arg(QCoreApplication::applicationPid())
                              .arg(g_testRoleCounter.fetchAndAddRelaxed(1))
                              .arg(what);
        m_roles << n;
        return n;
    }
    // A user added by the tables' owner, as `allstats user add` does.
    QString add(const QString& what, const QString& region, const QString& rights,
                const QString& password = QStringLiteral("pw"))
    {
        const QString role = name(what);
        const Status s = users::addUser(m_db.sqlca(), {role, what, region, rights, true}, password);
        if (!s)
            ADD_FAILURE() << "user add " << role.toStdString() << ": " << s.error.toStdString();
        return role;
    }
    // The test database's URL signed in as the role (with a password when given).
    QString url(const QString& role, const QString& password = QString()) const
    {
        return withPassword(withUser(m_db.url(), role), password);
    }
    std::unique_ptr<Sqlca> connect(const QString& role, const QString& password = QString()) const
    {
        QString error;
        auto s = Sqlca::connect(url(role, password), &error);
        if (!s)
            ADD_FAILURE() << "sign-in as " << role.toStdString() << " failed: " << error.toStdString();
        return s;
    }
    const users::Groups& groups() const { return m_groups; }

    static QString quote(const QString& name)
    {
        QString n = name;
        n.replace(u'"', QStringLiteral("\"\""));
        return u'"' + n + u'"';
    }

    // Rights strings: every right, the report without the catalogue, the catalogue without the report.
    static QString all() { return QString(users::kRightsLength, u'1'); }
    static QString reportOnly()
    {
        QString r = all();
        r[users::kCatalogueRight - 1] = u'0';
        return r;
    }
    static QString catalogueOnly()
    {
        QString r = all();
        r[users::kReportRight - 1] = u'0';
        return r;
    }

private:
    TestDb& m_db;
    users::Groups m_groups;
    QStringList m_roles;
};
