// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/ui/desktophost.h"
#include "foundation/users.h"
#include "host/options.h"

#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <memory>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;
class Sqlca;

// Opens the session's database for the desktop, asking the user where a choice
// is needed: the demo database is created with its data when missing; a
// database without the tables is offered to be set up (with or without the
// demo data). Null when the database cannot be used; the user has been told why.
// On a PostgreSQL server it signs the user in (a remembered password, else the
// sign-in dialog when the server asks for one) and refuses a role that is not
// a user of a database with a users table; *usedDb (when given) is then the
// URL that connected, with the user name and password of the sign-in.
std::unique_ptr<Sqlca> openDesktopDatabase(const QString& db, QWidget* parent, QString* usedDb = nullptr);

// The host's main window: shows the session (database, the user's region,
// the current period, the rights), changes it through the session dialog and
// opens the module's screens from its 统计 menu.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    MainWindow(const SessionOptions& session, std::unique_ptr<Sqlca> sqlca, QWidget* parent = nullptr);
    ~MainWindow() override;

    DesktopHost& host() { return *m_host; }
    const SessionOptions& session() const { return m_session; }

    // Opens a module screen with the main window behind it; null when it is not
    // available or the rights gate refused it.
    QWidget* openScreen(const QString& name);
    // Takes a new session: reconnects when the database changed and saves the
    // settings. False when the new database cannot be used (the old session stays).
    bool applySession(const SessionOptions& session);
    // Opens the session dialog (会话设置).
    void editSession();

    // The name of a region of s_qybm; empty when unknown.
    QString regionName(const QString& code);
    // What the database holds, in a line: villages, indicators, schemes, periods of figures.
    QString dataSummary();
    // The About box's text: version, the database in use, Qt's version.
    QString aboutText() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildCentre();
    void refreshInfo();
    void applyGlobals();
    bool closeScreens();

    SessionOptions m_session;
    std::unique_ptr<Sqlca> m_sqlca;
    std::unique_ptr<DesktopHost> m_host;
    QList<QPointer<QWidget>> m_screens;
    users::SignIn m_user;
    QFormLayout* m_infoForm = nullptr;
    QLabel* m_dbInfo = nullptr;
    QLabel* m_userInfo = nullptr;
    QLabel* m_regionInfo = nullptr;
    QLabel* m_periodInfo = nullptr;
    QLabel* m_grantInfo = nullptr;
    QLabel* m_dataInfo = nullptr;
    QLabel* m_dbStatus = nullptr;
    QLabel* m_regionStatus = nullptr;
    QLabel* m_periodStatus = nullptr;
};

// 会话设置: the database, the user's region, the current period, the rights
// string and the hooks folder of the session.
class SessionDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SessionDialog)

public:
    // `host` (may be null) lends its region picker for the session's database.
    SessionDialog(const SessionOptions& session, DesktopHost* host, QWidget* parent = nullptr);
    SessionOptions options() const;

private:
    SessionOptions m_base;
    DesktopHost* m_host;
    QLineEdit* m_db;
    QLineEdit* m_password;
    QLabel* m_passwordLabel;
    QLineEdit* m_region;
    QSpinBox* m_year;
    QComboBox* m_month;
    QCheckBox* m_limitRights;
    QLineEdit* m_grant;
    QLineEdit* m_hooks;
};
