// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/desktop.h"

#include "app/ui/mainwindow.h"
#include "app/ui/screens.h"
#include "foundation/dbname.h"
#include "foundation/sqlca.h"
#include "foundation/ui/messages.h"
#include "host/exitcode.h"
#include "host/options.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>

// Qt's own dialogs and buttons (file dialog, message boxes, print dialogs) in
// Chinese, from the translations Debian installs with Qt (qt6-translations-l10n).
void installChinese()
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), folder))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
    // Screen text in the layouts' font, which stands for one smooth family.
    QFont font(QStringLiteral("宋体"));
    font.setPointSize(10);
    QApplication::setFont(font);
}

int runDesktop(const QStringList& args)
{
    installChinese();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("村级互助资金管理 — 统计指标"));
    parser.addHelpOption();
    addDesktopOptions(parser);
    parser.process(args);
    if (const QString twice = repeatedOption(parser); !twice.isEmpty()) {
        QTextStream(stderr) << "allstats: " << twice << " is given more than once; give it once" << Qt::endl;
        return ExitUsage;
    }
    SessionOptions session = readSessionOptions(parser);
    session.open = parser.value(QStringLiteral("open")).trimmed();
    // The same period check as the batch commands: a period such as "2024 6"
    // would silently skip a village user's refresh.
    if (!isValidPeriod(session.period)) {
        if (parser.isSet(QStringLiteral("period"))) {
            QTextStream(stderr) << "allstats: --period must be " << periodRule() << ": " << session.period
                                << Qt::endl;
            return ExitUsage;
        }
        session.period = currentPeriod(); // a broken saved setting follows the calendar
    }

    // Without a database of their own the user works on the demo database.
    std::unique_ptr<Sqlca> sqlca;
    for (;;) {
        const QString db = session.db.trimmed().isEmpty() ? demoDatabasePath() : session.db.trimmed();
        QString used;
        sqlca = openDesktopDatabase(db, nullptr, &used);
        if (sqlca) {
            if (!session.db.trimmed().isEmpty()) {
                // Signed in under another name than the saved one: the next start offers it
                // (the password stays out of the file).
                if (!parser.isSet(QStringLiteral("db")) && userOf(used) != userOf(session.db))
                    saveSessionDatabase(used);
                session.db = used;
            }
            break;
        }
        if (messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("是否另选一个数据库？"),
                                  msg::Icon::Question, msg::Buttons::YesNo) != msg::Yes)
            return 1;
        SessionDialog dialog(session, nullptr);
        if (dialog.exec() != QDialog::Accepted)
            return 1;
        const QString open = session.open;
        session = dialog.options();
        session.open = open;
        saveSessionOptions(session);
    }

    MainWindow window(session, std::move(sqlca));
    window.show();
    if (!session.open.isEmpty()) {
        const QString name = session.open;
        // After the main window is up, so the screen opens in front of it.
        QTimer::singleShot(0, &window, [&window, name] { window.openScreen(name); });
    }
    return QApplication::exec();
}
