// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QList>
#include <QString>
#include <optional>

class Sqlca;

// The users of a shared PostgreSQL database: the users table s_yhqx maps a
// database role to its region, its rights string and a display name; group
// roles carry the rights the database grants; row-level security keeps a
// role's figures to its region. Made by `allstats init-db --roles`. A SQLite
// file, a database without the table and the tables' owner keep the session's
// own region and rights.
namespace users {

// The rights string of s_yhqx: one character per screen, "0" = no right.
constexpr int kRightsLength = 25;
constexpr int kCatalogueRight = 10; // the catalogue and the schemes
constexpr int kReportRight = 25;    // the report and what is built on it

// The group roles of one database and schema: the catalogue and schemes
// (指标管理, rights character 10), the reports (报表查询, character 25) and the
// users (用户管理). Roles are the server's, not the database's: the names carry
// the database and, unless it is public, the schema.
struct Groups
{
    QString catalogue; // <base>_zbgl
    QString report;    // <base>_bbcx
    QString users;     // <base>_yhgl
};
Groups groupNames(const QString& database, const QString& schema);
// The groups of the connected database; nullopt with the error in sqlca.
std::optional<Groups> groupNames(Sqlca& sqlca);

// One row of s_yhqx.
struct User
{
    QString role;          // yhm: the database role
    QString name;          // yhmc: how people call the user
    QString region;        // qybm: the user's region, a code of s_qybm
    QString rights;        // qx: the rights string
    bool canSignIn = true; // the role exists and may log in (listing only)
};

// Who a session signed in as.
struct SignIn
{
    enum Kind
    {
        Unscoped, // SQLite, no users table, the tables' owner or a superuser: as before
        Scoped,   // a role with its row: its region and rights bound the session
        NotAUser, // a role without a row: refused
        Failed,   // the look-up failed: error says why
    };
    Kind kind = Unscoped;
    User user; // the row (Scoped), the role (NotAUser)
    QString error;
};
SignIn signIn(Sqlca& sqlca);

// The name the files of the session name as their author (setDocumentAuthor):
// on a server the display name of the role's row, else the role; empty on a
// SQLite file, whose files name the system's login name.
QString authorName(const Sqlca& sqlca, const SignIn& who);

// The role's row is still there and the role still exists (an administrator
// may remove a user who is signed in). The refusal is said in Chinese.
Status stillAUser(Sqlca& sqlca, const QString& role);

// What the session works with: the table's rights with a "0" wherever the
// given string has one (the given string never adds a right); null given: the table's.
QString narrowRights(const QString& table, const QString& given);

// What is wrong with an administrator's input, empty when it is fine.
QString roleNameProblem(const QString& role);
QString rightsProblem(const QString& rights);

// init-db --roles: the users table, the group roles, their grants, the
// functions the policies and the administration use, and the row-level
// security of H_stat. Idempotent; one transaction. PostgreSQL only.
bool createRoles(Sqlca& sqlca, QString* error);

// Row-level security on a table whose `column` holds a unit or region code: a
// role that is not the owner sees and writes only the rows whose code starts
// with its region from s_yhqx, tested as one range of the code in the C
// collation (so an index on the code serves it); the report group may read it.
// Runs inside the caller's transaction; needs the functions createRoles makes.
bool applyRegionPolicy(Sqlca& sqlca, const QString& table, const QString& column, QString* error);

// Administration: each a single call of a server function that holds a lock
// on s_yhqx, checks the caller's own region and rights and does all or nothing.
// The password goes to the server as its verifier only.
Status addUser(Sqlca& sqlca, const User& user, const QString& password);
struct Change
{
    std::optional<QString> region;
    std::optional<QString> rights;
    std::optional<QString> name;
    std::optional<QString> password;
};
Status setUser(Sqlca& sqlca, const QString& role, const Change& change);
Status removeUser(Sqlca& sqlca, const QString& role);
std::optional<QList<User>> listUsers(Sqlca& sqlca, QString* error);

// Whether the connected database has the users table (init-db --roles ran).
std::optional<bool> hasUsersTable(Sqlca& sqlca, QString* error);

} // namespace users
