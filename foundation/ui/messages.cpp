// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/ui/messages.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace {
MessageService* g_service = nullptr;

// The title bar's own icon, buttons and margins beside the title, in pixels.
constexpr int kTitleBarAllowance = 160;

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
    // An empty title stays empty on screen: the window system would put the
    // program's name there ("allstats") instead.
    box.setWindowTitle(title.isEmpty() ? QStringLiteral(" ") : title);
    box.setText(text);
    box.setIcon(icon == msg::Icon::Question  ? QMessageBox::Question
                : icon == msg::Icon::Warning ? QMessageBox::Warning
                                             : QMessageBox::Information);
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
    }
    if (buttons == msg::Buttons::YesNo || buttons == msg::Buttons::YesNoCancel) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
        if (buttons == msg::Buttons::YesNoCancel)
            box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    }
    // Wide enough for the title beside the title bar's icon and buttons (the
    // box is laid out anew by the calls above, so this comes last).
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()); grid && !title.isEmpty()) {
        const int width = QFontMetrics(QApplication::font()).horizontalAdvance(title) + kTitleBarAllowance;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    switch (box.exec()) {
    case QMessageBox::No:
        return msg::No;
    case QMessageBox::Cancel:
        return msg::Cancel;
    case QMessageBox::Yes:
    case QMessageBox::Ok:
        return msg::Yes;
    default:
        // Closed with Escape or the title bar: the answer that changes least.
        return buttons == msg::Buttons::YesNoCancel ? msg::Cancel
               : buttons == msg::Buttons::YesNo     ? msg::No
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
