// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

class QWidget;

// Modal message boxes of the screens and menus. Screens ask the service that
// messages() returns; tests replace it with a scripted one and read back what
// was shown.
namespace msg {
enum class Icon
{
    Information, // the default
    Question,
    Warning, // the program's own failures (a file not written, a database not opened)
};
enum class Buttons
{
    Ok, // the default
    YesNo,
    YesNoCancel, // the question before unsaved edits are closed away, on every screen
};
// Answers: 1 yes or OK, 2 no, 3 cancel.
constexpr int Yes = 1;
constexpr int Ok = 1;
constexpr int No = 2;
constexpr int Cancel = 3;
} // namespace msg

class MessageService
{
public:
    virtual ~MessageService() = default;
    virtual int MessageBox(const QString& title, const QString& text, msg::Icon icon = msg::Icon::Information,
                           msg::Buttons buttons = msg::Buttons::Ok) = 0;
};

// Shows real QMessageBox dialogs over the active window.
class DialogMessageService final : public MessageService
{
public:
    int MessageBox(const QString& title, const QString& text, msg::Icon icon = msg::Icon::Information,
                   msg::Buttons buttons = msg::Buttons::Ok) override;
};

// Records every box and answers from a queue; with the queue empty it answers
// the first button (OK or yes).
class ScriptedMessageService final : public MessageService
{
public:
    struct Shown
    {
        QString title;
        QString text;
        msg::Icon icon;
        msg::Buttons buttons;
    };

    int MessageBox(const QString& title, const QString& text, msg::Icon icon = msg::Icon::Information,
                   msg::Buttons buttons = msg::Buttons::Ok) override;

    void answer(int button) { m_answers.append(button); }
    const QList<Shown>& shown() const { return m_shown; }
    int pendingAnswers() const { return int(m_answers.size()); }
    void clear()
    {
        m_shown.clear();
        m_answers.clear();
    }

private:
    QList<int> m_answers;
    QList<Shown> m_shown;
};

// The service the screens use. Defaults to DialogMessageService.
MessageService& messages();
// Replaces the service (null restores the default); returns the previous one.
MessageService* setMessages(MessageService* service);

// Installs a service for the lifetime of a scope (tests).
class ScopedMessages final
{
public:
    explicit ScopedMessages(MessageService* service) : m_previous(setMessages(service)) {}
    ~ScopedMessages() { setMessages(m_previous); }
    ScopedMessages(const ScopedMessages&) = delete;
    ScopedMessages& operator=(const ScopedMessages&) = delete;

private:
    MessageService* m_previous;
};
