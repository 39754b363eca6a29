// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

// What the sign-in asks for and what the user answers.
struct SignInRequest
{
    QString server;        // host:port/database, as the dialog names it
    QString reason;        // why it asks: no password at hand, or the last one refused
    QString user;          // prefilled from the URL; the answer
    QString password;      // the answer
    bool remember = false; // "记住密码": keep the password in the secret store
};

// 登录: user name, password and "记住密码" for a PostgreSQL server that asks for them.
class w_login final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_login)

public:
    explicit w_login(const SignInRequest& request, QWidget* parent = nullptr);
    SignInRequest answer() const;

private:
    SignInRequest m_request;
    QLineEdit* sle_user;
    QLineEdit* sle_password;
    QCheckBox* cbx_remember;
};

// Asks for the sign-in; false when the user cancels. The application shows
// w_login; tests put an answer of their own here.
using SignInPrompt = std::function<bool(SignInRequest& request, QWidget* parent)>;
SignInPrompt& signInPrompt();
