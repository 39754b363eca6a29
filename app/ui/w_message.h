// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;

// The wait notice of the host: a small frameless box that is painted at once,
// before the work it announces starts.
class w_message final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_message)

public:
    explicit w_message(QWidget* parent = nullptr);
    // Shows the text over the active window and paints it before returning.
    void showText(const QString& text);
    QString text() const;

private:
    QLabel* m_text;
};
