// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/usercommand.h"

#include "foundation/sqlca.h"
#include "foundation/users.h"
#include "host/exitcode.h"
#include "host/options.h"

#include <QCommandLineParser>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

// The terminal as it was before echo went off, put back however the reading ends.
termios g_saved;
bool g_echoOff = false;

extern "C" void restoreEchoAndStop(int)
{
    if (g_echoOff)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    _exit(ExitInterrupted);
}

// One line of standard input without its line end; false at the end of input.
bool readLine(QString* line)
{
    QByteArray bytes;
    char buffer[256];
    for (;;) {
        if (!std::fgets(buffer, sizeof buffer, stdin))
            return !bytes.isEmpty();
        bytes += buffer;
        if (bytes.endsWith('\n'))
            break;
    }
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    *line = QString::fromUtf8(bytes);
    return true;
}

bool readHidden(const QString& prompt, QString* line)
{
    err() << prompt << Qt::flush;
    if (tcgetattr(STDIN_FILENO, &g_saved) != 0)
        return readLine(line);
    termios quiet = g_saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    auto* previous = std::signal(SIGINT, restoreEchoAndStop);
    g_echoOff = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    const bool ok = readLine(line);
    if (g_echoOff)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_echoOff = false;
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    return ok;
}

int usage(const QString& text)
{
    err() << "user: " << text << Qt::endl;
    return ExitUsage;
}

} // namespace

bool readNewPassword(const QString& role, QString* password, QString* error)
{
    QString first;
    QString second;
    bool ok;
    if (isatty(STDIN_FILENO)) {
        ok = readHidden(QStringLiteral("New password for %1: ").arg(role), &first) &&
             readHidden(QStringLiteral("The same password again: "), &second);
    } else {
        // For scripts: the password on two lines of standard input.
        ok = readLine(&first) && readLine(&second);
    }
    if (!ok) {
        *error = QStringLiteral("the password must be given twice (standard input ended)");
        return false;
    }
    if (first.isEmpty()) {
        *error = QStringLiteral("the password is empty");
        return false;
    }
    if (first != second) {
        *error = QStringLiteral("the two passwords differ; nothing was changed");
        return false;
    }
    *password = first;
    return true;
}

int runUser(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Manages the users of a shared PostgreSQL database:\n"
                       "  user add ROLE --region CODE --rights STRING [--name TEXT]\n"
                       "  user set ROLE [--region CODE] [--rights STRING] [--name TEXT] [--password]\n"
                       "  user remove ROLE\n"
                       "  user list"));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("db"), QStringLiteral("Database: a postgresql:// URL."), QStringLiteral("DB")});
    parser.addOption({QStringLiteral("region"), QStringLiteral("The user's region, a code of s_qybm."),
                      QStringLiteral("CODE")});
    parser.addOption(
        {QStringLiteral("rights"),
         QStringLiteral("The rights string, 25 characters of 0 and 1 (10: catalogue and schemes, "
                        "25: report)."),
         QStringLiteral("STRING")});
    parser.addOption(
        {QStringLiteral("name"), QStringLiteral("The user's display name."), QStringLiteral("TEXT")});
    parser.addOption({QStringLiteral("password"), QStringLiteral("set: asks for a new password.")});
    QStringList rest = args;
    rest.removeAt(1); // the command word
    if (!parser.parse(rest))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return ExitDone;
    }
    if (const QString twice = repeatedOption(parser); !twice.isEmpty())
        return usage(twice + QStringLiteral(" is given more than once; give it once"));
    const QStringList words = parser.positionalArguments();
    const QString action = words.value(0);
    static const QStringList actions = {QStringLiteral("add"), QStringLiteral("set"),
                                        QStringLiteral("remove"), QStringLiteral("list")};
    if (!actions.contains(action))
        return usage(action.isEmpty()
                         ? QStringLiteral("add, set, remove or list is needed")
                         : QStringLiteral("unknown action \"%1\" (add, set, remove, list)").arg(action));
    const int wantWords = action == u"list" ? 1 : 2;
    if (words.size() < wantWords)
        return usage(QStringLiteral("%1 needs the role's name").arg(action));
    if (words.size() > wantWords)
        return usage(QStringLiteral("unexpected argument: %1").arg(words.at(wantWords)));
    const QString role = words.value(1);
    if (!parser.isSet(QStringLiteral("db")))
        return usage(QStringLiteral("--db DB is required"));
    QString why;
    if (!checkDatabaseOption(parser, &why))
        return usage(why);

    // Which options each action takes, checked before anything is asked or opened.
    const bool add = action == u"add";
    const bool set = action == u"set";
    for (const char* option : {"region", "rights", "name"})
        if (!add && !set && parser.isSet(QString::fromLatin1(option)))
            return usage(QStringLiteral("--%1 is for add and set").arg(QString::fromLatin1(option)));
    if (!set && parser.isSet(QStringLiteral("password")))
        return usage(QStringLiteral("--password is for set (add always asks for one)"));
    if (add && (!parser.isSet(QStringLiteral("region")) || !parser.isSet(QStringLiteral("rights"))))
        return usage(QStringLiteral("add needs --region and --rights"));
    if (set && !parser.isSet(QStringLiteral("region")) && !parser.isSet(QStringLiteral("rights")) &&
        !parser.isSet(QStringLiteral("name")) && !parser.isSet(QStringLiteral("password")))
        return usage(QStringLiteral("set needs --region, --rights, --name or --password"));
    if (add || set) {
        if (const QString p = users::roleNameProblem(role); !p.isEmpty())
            return usage(p);
    }
    if (parser.isSet(QStringLiteral("rights")))
        if (const QString p = users::rightsProblem(parser.value(QStringLiteral("rights"))); !p.isEmpty())
            return usage(p);

    QString error;
    auto sqlca = Sqlca::connect(parser.value(QStringLiteral("db")), &error);
    if (!sqlca) {
        err() << "user: " << error << Qt::endl;
        return ExitDatabase;
    }
    if (sqlca->backend() != Backend::PostgreSQL)
        return usage(
            QStringLiteral("a SQLite file has no users: its file permissions decide who may use it"));
    const auto has = users::hasUsersTable(*sqlca, &error);
    if (!has || !*has) {
        err() << "user: "
              << (has ? QStringLiteral("the database has no users table s_yhqx: its owner makes it with "
                                       "allstats init-db --roles --db %1")
                            .arg(Sqlca::shownDatabase(parser.value(QStringLiteral("db"))))
                      : error)
              << Qt::endl;
        return ExitDatabase;
    }

    if (action == u"list") {
        const auto list = users::listUsers(*sqlca, &error);
        if (!list) {
            err() << "user list: " << error << Qt::endl;
            return ExitRefused;
        }
        QTextStream out(stdout);
        out << "role\tregion\trights\tname\n";
        for (const users::User& u : *list)
            out << u.role << '\t' << u.region << '\t' << u.rights << '\t' << u.name
                << (u.canSignIn ? "" : "\t(cannot sign in: the role is gone or may not log in)") << '\n';
        out.flush();
        return ExitDone;
    }

    Status status;
    if (add) {
        QString password;
        if (!readNewPassword(role, &password, &error)) {
            err() << "user add: " << error << Qt::endl;
            return ExitRefused;
        }
        status = users::addUser(*sqlca,
                                {role, parser.value(QStringLiteral("name")),
                                 parser.value(QStringLiteral("region")).trimmed(),
                                 parser.value(QStringLiteral("rights")), true},
                                password);
    } else if (set) {
        users::Change change;
        if (parser.isSet(QStringLiteral("region")))
            change.region = parser.value(QStringLiteral("region")).trimmed();
        if (parser.isSet(QStringLiteral("rights")))
            change.rights = parser.value(QStringLiteral("rights"));
        if (parser.isSet(QStringLiteral("name")))
            change.name = parser.value(QStringLiteral("name"));
        if (parser.isSet(QStringLiteral("password"))) {
            QString password;
            if (!readNewPassword(role, &password, &error)) {
                err() << "user set: " << error << Qt::endl;
                return ExitRefused;
            }
            change.password = password;
        }
        status = users::setUser(*sqlca, role, change);
    } else {
        status = users::removeUser(*sqlca, role);
    }
    if (!status) {
        err() << "user " << action << ": " << status.error << Qt::endl;
        return ExitRefused;
    }
    QTextStream(stdout) << (add ? "added " : set ? "changed " : "removed ") << role << Qt::endl;
    return ExitDone;
}
