// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/w_login.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

w_login::w_login(const SignInRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request), sle_user(new QLineEdit(this)), sle_password(new QLineEdit(this)),
      cbx_remember(new QCheckBox(QStringLiteral("记住密码"), this))
{
    setObjectName(QStringLiteral("w_login"));
    setWindowTitle(QStringLiteral("登录数据库服务器"));

    auto* server = new QLabel(QStringLiteral("服务器：%1").arg(request.server), this);
    server->setObjectName(QStringLiteral("st_server"));
    server->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* reason = new QLabel(request.reason, this);
    reason->setObjectName(QStringLiteral("st_reason"));
    reason->setWordWrap(true);
    reason->setStyleSheet(QStringLiteral("color: #a00;"));
    reason->setVisible(!request.reason.isEmpty());

    sle_user->setObjectName(QStringLiteral("sle_user"));
    sle_user->setText(request.user);
    sle_password->setObjectName(QStringLiteral("sle_password"));
    sle_password->setEchoMode(QLineEdit::Password);
    cbx_remember->setObjectName(QStringLiteral("cbx_remember"));
    cbx_remember->setChecked(request.remember);
    cbx_remember->setToolTip(QStringLiteral("密码保存在桌面的密码存储（密钥环）中，不写入设置文件"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("用户名："), sle_user);
    form->addRow(QStringLiteral("密码："), sle_password);
    form->addRow(QString(), cbx_remember);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("登录"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("cb_ok"));
    ok->setDefault(true);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cb_cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!sle_user->text().trimmed().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(reason);
    layout->addLayout(form);
    layout->addWidget(buttons);
    (request.user.isEmpty() ? sle_user : sle_password)->setFocus();
    resize(420, sizeHint().height());
}

SignInRequest w_login::answer() const
{
    SignInRequest a = m_request;
    a.user = sle_user->text().trimmed();
    a.password = sle_password->text();
    a.remember = cbx_remember->isChecked();
    return a;
}

SignInPrompt& signInPrompt()
{
    static SignInPrompt prompt = [](SignInRequest& request, QWidget* parent) {
        w_login dialog(request, parent);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        request = dialog.answer();
        return true;
    };
    return prompt;
}
