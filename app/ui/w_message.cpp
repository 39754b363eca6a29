// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/w_message.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QStyle>

w_message::w_message(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("w_message"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_StyledBackground);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("w_message { background: #FFFDF2; border: 2px solid #008080; }"
                                 "QLabel { color: #0F3F3F; }"));
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(12);
    m_text->setFont(f);
    m_text->setObjectName(QStringLiteral("st_1"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(22, 16, 26, 16);
    layout->setSpacing(14);
    layout->addWidget(icon);
    layout->addWidget(m_text);
}

void w_message::showText(const QString& text)
{
    m_text->setText(text);
    adjustSize();
    // Centred over the window the user works in, else over the screen.
    QRect area;
    if (QWidget* active = QApplication::activeWindow(); active && active != this)
        area = active->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    if (area.isValid())
        move(area.center() - rect().center());
    show();
    raise();
    // Painted now: the work that follows keeps the event loop busy.
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString w_message::text() const
{
    return m_text->text();
}
