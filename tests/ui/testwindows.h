// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small screens over the catalogue grid for the widget runtime tests.

#include "foundation/ui/gridview.h"
#include "foundation/ui/modulewindow.h"
#include "menus/m_guide_set.h"
#include "menus/m_report.h"
#include "support/fakehost.h"
#include "support/layouts.h"
#include "support/testdb.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>

inline void insertIndicators(TestDb& db, int count)
{
    for (int i = 1; i <= count; ++i)
        db.exec(QStringLiteral(
                    "INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) VALUES (?, ?, ?, ?, ?, ?)"),
                {QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("借款发放"),
                 QStringLiteral("指标%1").arg(i), QStringLiteral("说明%1").arg(i), 1, i % 2});
}

// A screen shaped like the report screen: the grid on the left, the query
// column (gb_1 with an edit field) on the right, m_report or m_guide_set attached.
class TestScreen final : public ModuleWindow
{
public:
    enum class MenuKind
    {
        Report,
        Guide,
        None
    };

    TestScreen(FakeHost& host, int rightsPosition, ShareOrder order, MenuKind menu = MenuKind::Report,
               bool twoGrids = false)
        : ModuleWindow(host, QStringLiteral("w_test"), rightsPosition, order), m_fake(host), m_menuKind(menu)
    {
        setDesignSize(3717, 2144);
        grid = new GridView(QStringLiteral("dw_1"), catalogueWithCheckBoxes());
        place(grid, 14, 12, 2971, 1936);
        if (twoGrids) {
            second = new GridView(QStringLiteral("dw_2"), catalogueWithCheckBoxes());
            place(second, 14, 1960, 2971, 150);
        }
        gb_1 = new QGroupBox;
        gb_1->setObjectName(QStringLiteral("gb_1"));
        place(gb_1, 3040, 0, 590, 1400);
        em_1 = new QLineEdit;
        em_1->setObjectName(QStringLiteral("em_1"));
        place(em_1, 3100, 100, 450, 80);
    }

    GridView* grid = nullptr;
    GridView* second = nullptr;
    QGroupBox* gb_1 = nullptr;
    QLineEdit* em_1 = nullptr;
    int closeAnswer = 0;
    bool shareSetBeforeMenu = false;
    bool boundBeforeStart = false;
    QVariant numberAtBind;

protected:
    Menu* createMenu() override
    {
        shareSetBeforeMenu = m_fake.gdw_share == grid;
        m_fake.calls << QStringLiteral("ChangeMenu");
        switch (m_menuKind) {
        case MenuKind::Report:
            return new m_report;
        case MenuKind::Guide:
            return new m_guide_set(m_fake);
        case MenuKind::None:
            break;
        }
        return nullptr;
    }
    void beforeBind() override { numberAtBind = openMessage().numberParm; }
    void start() override
    {
        m_fake.calls << QStringLiteral("start");
        boundBeforeStart = grid->buffer().transObject() == &m_fake.sqlca();
    }
    int closeQuery() override
    {
        m_fake.calls << QStringLiteral("closeQuery");
        return closeAnswer;
    }

private:
    FakeHost& m_fake;
    MenuKind m_menuKind;
};

inline void processDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Types text as key presses, Chinese characters included (as an input method delivers them).
inline void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &release);
    }
}
