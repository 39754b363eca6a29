// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/ui/modulewindow.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class GridView;

// The scheme editor "统计指标管理": the schemes of one kind (the open parameter),
// the grid of the current scheme on the left, the panel on the right with the
// view filters, the scheme list and the commands. The caption of cb_1 is the
// state: "添加(&A)" while browsing, "取消(&C)" while a new scheme is being added.
class w_zbfa_set final : public ModuleWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_zbfa_set)

public:
    static constexpr int kRightsPosition = 10;

    explicit w_zbfa_set(UiHost& host, QWidget* parent = nullptr);
    ~w_zbfa_set() override;

    // Controls, in the order the window creates them.
    QRadioButton* rb_3;
    QRadioButton* rb_2;
    QRadioButton* rb_1;
    QPushButton* cb_5;
    QPushButton* cb_4;
    QPushButton* cb_3;
    QPushButton* cb_2;
    QPushButton* cb_1;
    QComboBox* ddlb_1;
    QLabel* st_1;
    GridView* m_dw_1;
    QGroupBox* gb_1;

    // The scheme kind of this window, from the open parameter.
    int li_falx = 0;

    bool adding() const;
    // The code the add in progress allocated (0 while browsing).
    int pendingScheme() const { return m_pending; }

    // Refills the scheme list.
    void uf_restfamc();
    // Loads the first scheme of the list, topping it up with the catalogue's
    // indicators it lacks.
    void uf_firstfa();
    // Renumbers the shown rows 10, 20, 30, ... in their shown order.
    void uf_resortrow();

protected:
    GridView* dw_1() const override { return m_dw_1; }
    Menu* createMenu() override;
    void beforeBind() override;
    void start() override;
    int closeQuery() override;

private:
    // The grid's title t_biaoti: the scheme list's name followed by "统计指标".
    void setTitle();
    void addOrCancel();
    void add();
    void cancel();
    void save();
    void deleteScheme();
    void defaultGroup();
    void exitCommand();
    void viewFilter(QRadioButton* button, const QString& filter);
    void chooseScheme();
    bool rowOrderEdited(const QString& column);

    int m_pending = 0;
};
