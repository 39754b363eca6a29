// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>
#include <QVariant>

class Sqlca;

// The outcome of a host routine or a command: ok, or the text that says what failed.
struct Status
{
    bool ok = true;
    QString error;
    static Status success() { return {}; }
    static Status failure(QString text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

// The parameter a window is opened with, and the string a picker window leaves behind.
struct Message
{
    QVariant numberParm;
    QString stringParm;
    void clear()
    {
        numberParm.clear();
        stringParm.clear();
    }
};

// The host application's globals and the routines the statistics run needs.
// Windows and layout routines are added by the desktop host (app/ui).
class Host
{
public:
    virtual ~Host() = default;

    // Rights string; a null string lets the user in everywhere.
    QString gs_usergrant;
    // Current accounting period, YYYYMM.
    QString gs_kjqj;
    // The user's region code; 12 characters for a village user.
    QString gs_userqybm;
    Message message;

    // On a shared database whose users table names the signed-in role: the
    // role, and the region its row gives it (the database shows it nothing
    // outside). Both null where the database does not scope the session
    // (SQLite, no users table, the tables' owner): every region then.
    QString signedInRole;
    QString regionScope;

    // Whether the user may query the region: it lies within regionScope and the
    // signed-in role is still a user of the database. The refusal says why.
    Status mayQuery(const QString& region);

    virtual Sqlca& sqlca() = 0;

    // Refresh of the current period's per-unit figures.
    virtual Status uf_zzye(int flag) = 0;
    virtual Status uf_yqmx(const QString& period, int flag) = 0;
    virtual Status uf_ysss(const QString& period) = 0;
    virtual Status uf_allstats(const QString& region, const QString& period) = 0;
    // Derived figures of the working table, after the aggregation.
    virtual Status uf_update_report(const QString& table, const QString& opening,
                                    const QString& cumulative) = 0;

    // The wait notice shown while a statistics run works; the batch command shows none.
    virtual void openWaitNotice(const QString& /*text*/) {}
    virtual void closeWaitNotice() {}
};

// Today's date: the calendar's, or the one a test set with overrideToday().
QDate today();
// Makes today() answer `date` (a test's fixed day); a null date follows the calendar again.
void overrideToday(const QDate& date);
// YYYYMM of today.
QString currentPeriod();
// The month before a valid period: "202601" gives "202512". Empty for an invalid period.
QString previousPeriod(const QString& period);
// The first year of a period the program takes; the last is 9999.
constexpr int kFirstYear = 1900;
// A period as every part of the program takes it: six ASCII digits, the year
// 1900 to 9999, the month 01 to 12.
bool isValidPeriod(const QString& period);
// The rule above in the words of the messages: "YYYYMM with a year from 1900 …".
QString periodRule();
// True when `grant` denies the screen guarded by the 1-based position.
bool rightsDenied(const QString& grant, int position);
// True when the region lies within the scope: its code starts with the
// scope's; a null scope holds every region.
bool regionInScope(const QString& scope, const QString& region);
// "无权查询该区域…": the refusal of a region outside the user's scope.
QString regionRefusal(const QString& region, const QString& scope);
