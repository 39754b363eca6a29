// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/modulewindow.h"

#include <QLabel>

class QComboBox;
class QGroupBox;
class QPushButton;
class QTableView;
class GridView;
class RegionBox;
struct ReportRequest;

// A line in the report area itself, under the report's rows: what a query
// found missing (a month without figures of the region). Hidden while empty.
class NoFiguresLine final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoFiguresLine)

public:
    explicit NoFiguresLine(QTableView* table);
    // Shows the text under the rows; the empty text hides the line.
    void say(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();
    QTableView* m_table;
};

// The screen of the report "项目进度及借款质量表": the report grid on the left,
// the query column on the right (region, scheme, year and month, "查询").
class w_xmjdzl final : public ModuleWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_xmjdzl)

public:
    static constexpr int kRightsPosition = 25;

    explicit w_xmjdzl(UiHost& host, QWidget* parent = nullptr);
    ~w_xmjdzl() override;

    QGroupBox* gb_1;
    QLabel* st_1;
    RegionBox* em_1;
    QPushButton* cb_qy;
    QLabel* st_3;
    QPushButton* cb_2;
    QComboBox* ddlb_3;
    QLabel* st_2;
    QComboBox* ddlb_1;
    QComboBox* ddlb_2;
    QPushButton* cb_1;
    QPushButton* cb_3;
    GridView* m_dw_1;
    QLabel* st_status;        // the status bar line of the last query
    NoFiguresLine* st_nodata; // the same in the report area, under the rows

    // The query button: the statistics run on the screen's choices.
    void query();
    // What the screen's controls ask for right now.
    ReportRequest request() const;

protected:
    GridView* dw_1() const override { return m_dw_1; }
    Menu* createMenu() override;
    void start() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fillYearsAndMonth();
    void fillSchemes();
    void pickRegion();
    void openSchemeEditor();
};
