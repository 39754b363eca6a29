// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/batchsession.h"

#include "foundation/gridprint.h"
#include "foundation/host.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "foundation/users.h"
#include "host/options.h"

#include <QFileInfo>
#include <QTextStream>
#include <atomic>
#include <csignal>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

const QString kRightsDenied = QStringLiteral("你无权限执行该操作,请询问系统管理员");
// The figures of the report, wherever they are shown, need the report's right.
constexpr int kReportRightsPosition = 25;

// Ctrl-C while an InterruptCatcher lives.
std::atomic<bool> g_interrupted{false};

extern "C" void noteInterrupt(int)
{
    g_interrupted.store(true);
}

} // namespace

ReportSession::ReportSession() = default;
ReportSession::~ReportSession() = default;

void addSessionCommandOptions(QCommandLineParser& parser)
{
    parser.addHelpOption();
    addSessionOptions(parser); // --db, --user-region, --period, --grant, --hooks
    parser.addOption({QStringLiteral("scheme"), QStringLiteral("Indicator scheme name (kind 1)."),
                      QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("region"), QStringLiteral("Region code, a code of s_qybm."), QStringLiteral("CODE")});
    batch::addLimitOptions(parser); // --wait, --timeout
}

void addMonthOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("year"),
                      QStringLiteral("Year of the report, YYYY (left out with --month previous)."),
                      QStringLiteral("YYYY")});
    parser.addOption({QStringLiteral("month"),
                      QStringLiteral("Month of the report, 1 to 12, or previous: the month before --period "
                                     "(default: before this month), its year with it."),
                      QStringLiteral("M")});
}

void addReportOptions(QCommandLineParser& parser)
{
    addSessionCommandOptions(parser);
    addMonthOptions(parser);
    parser.addOption({QStringLiteral("format"), QStringLiteral("json (default), csv, xlsx or pdf."),
                      QStringLiteral("FORMAT")});
    parser.addOption({QStringLiteral("landscape"), QStringLiteral("Print the PDF across the page.")});
}

int parseCommandOptions(ReportSession& s, const QStringList& args,
                        std::initializer_list<const char*> required)
{
    QStringList rest = args;
    if (rest.size() > 1)
        rest.removeAt(1); // the command word
    if (!s.parser.parse(rest)) {
        err() << s.command << ": " << s.parser.errorText() << Qt::endl;
        return ExitUsage;
    }
    if (s.isSet("help")) {
        QTextStream(stdout) << s.parser.helpText();
        return -1;
    }
    if (!s.parser.positionalArguments().isEmpty()) {
        err() << s.command << ": unexpected argument: " << s.parser.positionalArguments().first() << Qt::endl;
        return ExitUsage;
    }
    // Given twice, which one was meant is a guess: the command does not make it.
    if (const QString twice = repeatedOption(s.parser, {QStringLiteral("indicator")}); !twice.isEmpty()) {
        err() << s.command << ": " << twice << " is given more than once; give it once" << Qt::endl;
        return ExitUsage;
    }
    for (const char* option : required) {
        if (!s.isSet(option)) {
            err() << s.command << ": --" << option << " is required" << Qt::endl;
            return ExitUsage;
        }
    }
    if (QString why; !checkDatabaseOption(s.parser, &why)) {
        err() << s.command << ": " << why << Qt::endl;
        return ExitUsage;
    }
    s.period = s.isSet("period") ? s.value("period").trimmed() : currentPeriod();
    if (!isValidPeriod(s.period)) {
        err() << s.command << ": --period must be " << periodRule() << ": " << s.period << Qt::endl;
        return ExitUsage;
    }
    if (QString why; !batch::readLimits(s.parser, &s.limits, &why)) {
        err() << s.command << ": " << why << Qt::endl;
        return ExitUsage;
    }
    return ExitDone;
}

int parseReportOptions(ReportSession& s, const QStringList& args)
{
    if (const int code = parseCommandOptions(s, args, {"db", "month"}); code != ExitDone)
        return code;
    // "previous": the month before the session period, the year with it (January gives December).
    if (s.value("month").trimmed().toLower() == u"previous") {
        if (s.isSet("year")) {
            err() << s.command << ": --month previous brings its own year: leave --year out" << Qt::endl;
            return ExitUsage;
        }
        const QString previous = previousPeriod(s.period);
        s.year = previous.left(4);
        s.month = previous.mid(4).toInt();
        return ExitDone;
    }
    if (!s.isSet("year")) {
        err() << s.command << ": --year is required (only --month previous goes without it)" << Qt::endl;
        return ExitUsage;
    }
    s.year = s.value("year").trimmed();
    bool ok = false;
    const int y = s.year.toInt(&ok);
    if (s.year.size() != 4 || !ok || y < kFirstYear) {
        err() << s.command << ": --year must be a year from " << kFirstYear << " to 9999: " << s.year
              << Qt::endl;
        return ExitUsage;
    }
    s.month = s.value("month").trimmed().toInt(&ok);
    if (!ok || s.month < 1 || s.month > 12) {
        err() << s.command << ": --month must be a month from 1 to 12, or previous: " << s.value("month")
              << Qt::endl;
        return ExitUsage;
    }
    return ExitDone;
}

int openReportSession(ReportSession& s)
{
    // A mistyped hooks folder would silently leave the derived figures at zero.
    const QString hooksDir = s.isSet("hooks") ? s.value("hooks") : defaultHooksDir();
    if (s.isSet("hooks") && !QFileInfo(hooksDir).isDir()) {
        err() << s.command << ": --hooks is not a folder: " << hooksDir << Qt::endl;
        return ExitUsage;
    }

    // The report's rights gate comes before anything is read.
    const QString grant = s.isSet("grant") ? s.value("grant") : QString();
    if (rightsDenied(grant, kReportRightsPosition)) {
        err() << kRightsDenied << Qt::endl;
        return ExitRefused;
    }

    QString error;
    s.sqlca = Sqlca::connect(s.value("db"), &error);
    if (!s.sqlca) {
        err() << s.command << ": " << error << Qt::endl;
        return ExitDatabase;
    }
    s.watchdog = std::make_unique<batch::Watchdog>(*s.sqlca, s.limits, s.command);
    const QStringList missing = schema::missingTables(*s.sqlca);
    if (s.sqlca->SQLCode == -1) {
        err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
        return ExitDatabase;
    }
    if (!missing.isEmpty()) {
        err() << s.command << ": the database " << s.sqlca->description() << " lacks the tables "
              << missing.join(QStringLiteral(", ")) << "; create them with: allstats init-db --db "
              << Sqlca::shownDatabase(s.value("db")) << Qt::endl;
        return ExitDatabase;
    }

    // On a shared database the users table says whose session this is: its
    // region and rights bound what the options may ask for (narrower, never wider).
    QString userRegion = s.isSet("user-region") ? s.value("user-region").trimmed() : QStringLiteral("");
    QString rights = grant;
    QString scope;
    QString role;
    const users::SignIn who = users::signIn(*s.sqlca);
    switch (who.kind) {
    case users::SignIn::Unscoped:
        break;
    case users::SignIn::Failed:
        err() << s.command << ": " << who.error << Qt::endl;
        return ExitDatabase;
    case users::SignIn::NotAUser:
        err() << s.command << ": the role \"" << who.user.role
              << "\" is not a user of this database (s_yhqx has no row for it); its administrator adds it "
                 "with allstats user add"
              << Qt::endl;
        return ExitRefused;
    case users::SignIn::Scoped:
        role = who.user.role;
        scope = who.user.region;
        rights = users::narrowRights(who.user.rights, grant);
        if (rightsDenied(rights, kReportRightsPosition)) {
            err() << kRightsDenied << Qt::endl;
            return ExitRefused;
        }
        if (userRegion.isEmpty())
            userRegion = scope;
        else if (!regionInScope(scope, userRegion)) {
            err() << s.command << ": --user-region: " << regionRefusal(userRegion, scope) << Qt::endl;
            return ExitRefused;
        }
        break;
    }
    // The files the command writes name the signed-in user as their author.
    setDocumentAuthor(users::authorName(*s.sqlca, who));

    // The region as the region box gives it: a code of s_qybm, shown by its name.
    const QString region = s.value("region").trimmed();
    if (!region.isEmpty() && !regionInScope(scope, region)) {
        err() << s.command << ": " << regionRefusal(region, scope) << Qt::endl;
        return ExitRefused;
    }
    if (!region.isEmpty()) {
        const auto row = s.sqlca->selectRow(
            QStringLiteral("SELECT qymc FROM s_qybm WHERE trim(qybm) = ? ORDER BY qybm LIMIT 1"), {region});
        if (!row) {
            if (s.sqlca->SQLCode == 100) {
                err() << s.command << ": unknown region code \"" << region
                      << "\": it is not a region code of s_qybm" << Qt::endl;
                return ExitRefused;
            }
            err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
            return ExitDatabase;
        }
        s.regionName = row->value(0).toString().trimmed();
    }

    // A scheme name no kind-1 scheme carries would give an empty report that looks done.
    if (const QString scheme = s.value("scheme"); !scheme.isEmpty()) {
        const QVariant n = s.sqlca->selectValue(
            QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND famc = ?"), {scheme});
        if (s.sqlca->SQLCode == -1) {
            err() << s.command << ": " << s.sqlca->SQLErrText << Qt::endl;
            return ExitDatabase;
        }
        if (n.toInt() == 0) {
            err() << s.command << ": unknown scheme \"" << scheme
                  << "\": no indicator scheme of kind 1 has this name" << Qt::endl;
            return ExitRefused;
        }
    }

    s.host = std::make_unique<SqlHost>(*s.sqlca, hooksDir);
    s.host->gs_kjqj = s.period;
    s.host->gs_userqybm = userRegion;
    s.host->gs_usergrant = rights;
    if (!role.isEmpty()) {
        s.host->signedInRole = role;
        s.host->regionScope = scope;
    }
    return ExitDone;
}

InterruptCatcher::InterruptCatcher()
{
    g_interrupted.store(false);
    m_previous = std::signal(SIGINT, noteInterrupt);
}

InterruptCatcher::~InterruptCatcher()
{
    std::signal(SIGINT, m_previous == SIG_ERR ? SIG_DFL : m_previous);
}

bool InterruptCatcher::interrupted() const
{
    return g_interrupted.load();
}
