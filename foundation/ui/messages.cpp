#include "foundation/ui/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
MessageService* g_service = nullptr;

DialogMessageService& defaultService()
{
    static DialogMessageService service;
    return service;
}
} // namespace

int DialogMessageService::MessageBox(const QString& title, const QString& text, msg::Icon icon,
                                     msg::Buttons buttons)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(icon == msg::Icon::Question ? QMessageBox::Question : QMessageBox::Information);
    switch (buttons) {
    case msg::Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        break;
    case msg::Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case msg::Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case msg::Buttons::SaveDiscardCancel:
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Save);
        box.button(QMessageBox::Save)->setText(QStringLiteral("保存"));
        box.button(QMessageBox::Discard)->setText(QStringLiteral("不保存"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
        break;
    }
    if (buttons == msg::Buttons::YesNo || buttons == msg::Buttons::YesNoCancel) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
        if (buttons == msg::Buttons::YesNoCancel)
            box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    }
    switch (box.exec()) {
    case QMessageBox::Save:
        return msg::Yes;
    case QMessageBox::Discard:
    case QMessageBox::No:
        return msg::No;
    case QMessageBox::Cancel:
        return msg::Cancel;
    case QMessageBox::Yes:
    case QMessageBox::Ok:
        return msg::Yes;
    default:
        // Closed with Escape or the title bar: the answer that changes least.
        return buttons == msg::Buttons::YesNoCancel || buttons == msg::Buttons::SaveDiscardCancel
                   ? msg::Cancel
               : buttons == msg::Buttons::YesNo ? msg::No
                                                : msg::Ok;
    }
}

int ScriptedMessageService::MessageBox(const QString& title, const QString& text, msg::Icon icon,
                                       msg::Buttons buttons)
{
    m_shown.append({title, text, icon, buttons});
    if (m_answers.isEmpty())
        return msg::Yes;
    return m_answers.takeFirst();
}

MessageService& messages()
{
    return g_service ? *g_service : defaultService();
}

MessageService* setMessages(MessageService* service)
{
    MessageService* previous = g_service;
    g_service = service;
    return previous;
}
