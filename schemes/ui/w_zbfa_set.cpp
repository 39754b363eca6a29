// SPDX-License-Identifier: GPL-3.0-or-later
#include "schemes/ui/w_zbfa_set.h"

#include "foundation/gridbuffer.h"
#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "menus/m_report.h"
#include "schemes/dw_zbfa.h"
#include "schemes/schemestore.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

namespace {

const QString kNotice = QStringLiteral("提示信息");
const QString kAdd = QStringLiteral("添加(&A)");
const QString kCancel = QStringLiteral("取消(&C)");

QFont songti()
{
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(10);
    return f;
}

bool confirmed(const QString& question)
{
    return messages().MessageBox(kNotice, question, msg::Icon::Question, msg::Buttons::YesNo) == msg::Yes;
}

// The database's text, with the empty title of database errors.
void showError(const QString& text)
{
    messages().MessageBox(QString(), text, msg::Icon::Warning);
}

} // namespace

w_zbfa_set::w_zbfa_set(UiHost& host, QWidget* parent)
    : ModuleWindow(host, QStringLiteral("w_zbfa_set"), kRightsPosition, ShareOrder::MenuThenShare, parent)
{
    setWindowTitle(QStringLiteral("统计指标管理"));
    // The client area below the menu and toolbar; the grid runs down to its bottom.
    setDesignSize(3717, 1960);

    QWidget* area = client();
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    rb_3 = new QRadioButton(QStringLiteral("显示未选指标"), area);
    rb_2 = new QRadioButton(QStringLiteral("显示已选指标"), area);
    rb_1 = new QRadioButton(QStringLiteral("显示所有指标"), area);
    cb_5 = new QPushButton(QStringLiteral("默认组"), area);
    cb_4 = new QPushButton(QStringLiteral("退出(&X)"), area);
    cb_3 = new QPushButton(QStringLiteral("删除(&D)"), area);
    cb_2 = new QPushButton(QStringLiteral("保存(&S)"), area);
    cb_1 = new QPushButton(kAdd, area);
    ddlb_1 = new QComboBox(area);
    st_1 = new QLabel(QStringLiteral("指标方案名称："), area);
    m_dw_1 = new GridView(QStringLiteral("dw_1"), dw_zbfa(), area);
    gb_1 = new QGroupBox(area);
    named(rb_3, "rb_3");
    named(rb_2, "rb_2");
    named(rb_1, "rb_1");
    named(cb_5, "cb_5");
    named(cb_4, "cb_4");
    named(cb_3, "cb_3");
    named(cb_2, "cb_2");
    named(cb_1, "cb_1");
    named(ddlb_1, "ddlb_1");
    named(st_1, "st_1");
    named(gb_1, "gb_1");

    for (QWidget* w : QList<QWidget*>{rb_3, rb_2, rb_1, cb_5, cb_4, cb_3, cb_2, cb_1, ddlb_1, st_1})
        w->setFont(songti());
    for (QPushButton* b : {cb_5, cb_4, cb_3, cb_2, cb_1}) {
        b->setCursor(Qt::PointingHandCursor);
        b->setAutoDefault(false);
    }
    rb_1->setChecked(true);
    cb_5->setEnabled(false);
    cb_3->setEnabled(false);
    cb_2->setEnabled(false);
    // A pure selection list while browsing; typing a name never adds an item.
    ddlb_1->setInsertPolicy(QComboBox::NoInsert);
    ddlb_1->setMaxVisibleItems(12);
    // The view filters are reached by the mouse, not by the tab key.
    for (QRadioButton* r : {rb_3, rb_2, rb_1})
        r->setFocusPolicy(Qt::ClickFocus);

    // Design geometry in layout units; the control order is the creation order.
    place(rb_3, 3104, 180, 453, 76);
    place(rb_2, 3104, 76, 453, 76);
    place(rb_1, 3104, 296, 453, 76);
    place(cb_5, 3145, 1040, 375, 92);
    place(cb_4, 3145, 1184, 375, 92);
    place(cb_3, 3145, 896, 375, 92);
    place(cb_2, 3145, 752, 375, 92);
    place(cb_1, 3145, 608, 375, 92);
    place(ddlb_1, 3104, 484, 503, 84);
    place(st_1, 3104, 416, 453, 56);
    place(m_dw_1, 14, 12, 2976, 1936);
    place(gb_1, 3040, 12, 590, 1328);
    gb_1->lower(); // the frame stands behind the controls it holds

    setTabOrder(m_dw_1, ddlb_1);
    setTabOrder(ddlb_1, cb_1);
    setTabOrder(cb_1, cb_2);
    setTabOrder(cb_2, cb_3);
    setTabOrder(cb_3, cb_4);
    setTabOrder(cb_4, cb_5);

    GridBuffer& grid = m_dw_1->buffer();
    grid.retrieveStart = [this] { setTitle(); };
    grid.itemChanged = [this](long, const QString& column, const QVariant&, const QVariant&) {
        return rowOrderEdited(column);
    };

    connect(cb_1, &QPushButton::clicked, this, &w_zbfa_set::addOrCancel);
    connect(cb_2, &QPushButton::clicked, this, &w_zbfa_set::save);
    connect(cb_3, &QPushButton::clicked, this, &w_zbfa_set::deleteScheme);
    connect(cb_5, &QPushButton::clicked, this, &w_zbfa_set::defaultGroup);
    connect(cb_4, &QPushButton::clicked, this, &w_zbfa_set::exitCommand);
    connect(rb_3, &QRadioButton::clicked, this, [this] { viewFilter(rb_3, QStringLiteral("xz = 0")); });
    connect(rb_2, &QRadioButton::clicked, this, [this] { viewFilter(rb_2, QStringLiteral("xz = 1")); });
    connect(rb_1, &QRadioButton::clicked, this, [this] { viewFilter(rb_1, QString()); });
    connect(ddlb_1, &QComboBox::activated, this, &w_zbfa_set::chooseScheme);
}

w_zbfa_set::~w_zbfa_set() = default;

Menu* w_zbfa_set::createMenu()
{
    return new m_report();
}

void w_zbfa_set::beforeBind()
{
    li_falx = int(std::trunc(openMessage().numberParm.toDouble()));
}

void w_zbfa_set::start()
{
    uf_restfamc();
    // Opened from the report on the scheme chosen there: that scheme, loaded
    // as a choice from the list loads it.
    if (const QString chosen = openMessage().stringParm; !chosen.isEmpty()) {
        if (const int index = ddlb_1->findText(chosen, Qt::MatchExactly); index >= 0) {
            ddlb_1->setCurrentIndex(index);
            chooseScheme();
            return;
        }
    }
    if (ddlb_1->count() > 0)
        uf_firstfa();
}

void w_zbfa_set::setTitle()
{
    m_dw_1->buffer().setText(QStringLiteral("t_biaoti"),
                             ddlb_1->currentText().trimmed() + QStringLiteral("统计指标"));
}

bool w_zbfa_set::adding() const
{
    return cb_1->text() == kCancel;
}

// ---------------------------------------------------------------- list and loading

void w_zbfa_set::uf_restfamc()
{
    const QStringList names = zbfa::names(host().sqlca(), li_falx);
    ddlb_1->clear();
    ddlb_1->addItems(names);
}

void w_zbfa_set::uf_firstfa()
{
    if (ddlb_1->count() < 1)
        return;
    ddlb_1->setCurrentIndex(0);
    Sqlca& sqlca = host().sqlca();
    const QString famc = ddlb_1->currentText();
    const int li_fabm = zbfa::lookUp(sqlca, famc, li_falx);
    // Only a scheme the look-up found is topped up; its failures are not reported.
    if (sqlca.SQLCode == 0)
        zbfa::topUp(sqlca, li_falx, li_fabm, famc);
    m_dw_1->Retrieve({li_fabm, li_falx});
    cb_2->setEnabled(true);
    cb_3->setEnabled(true);
    cb_5->setEnabled(true);
}

void w_zbfa_set::chooseScheme()
{
    if (ddlb_1->count() < 1)
        return;
    const int li_fabm = zbfa::lookUp(host().sqlca(), ddlb_1->currentText(), li_falx);
    m_dw_1->Retrieve({li_fabm, li_falx});
    cb_2->setEnabled(true);
    cb_3->setEnabled(true);
    cb_5->setEnabled(true);
}

void w_zbfa_set::uf_resortrow()
{
    GridBuffer& grid = m_dw_1->buffer();
    for (long row = 1; row <= grid.RowCount(); ++row)
        grid.SetItem(row, QStringLiteral("hh"), qlonglong(row) * 10);
}

bool w_zbfa_set::rowOrderEdited(const QString& column)
{
    if (column.compare(QStringLiteral("hh"), Qt::CaseInsensitive) != 0)
        return true;
    // Re-sorted and renumbered on the row orders as they were; the typed value
    // is stored afterwards and shows its place at the next sort.
    GridBuffer& grid = m_dw_1->buffer();
    grid.SetRedraw(false);
    grid.SetSort(QStringLiteral("hh asc"));
    grid.Sort();
    uf_resortrow();
    grid.SetRedraw(true);
    return true;
}

// ---------------------------------------------------------------- commands

void w_zbfa_set::addOrCancel()
{
    if (adding())
        cancel();
    else
        add();
}

void w_zbfa_set::add()
{
    Sqlca& sqlca = host().sqlca();
    const auto added = zbfa::add(sqlca, li_falx);
    if (!added) {
        // The add left nothing behind: the screen stays as it was.
        showError(sqlca.SQLErrText);
        return;
    }
    cb_1->setText(kCancel);
    cb_2->setEnabled(true);
    cb_3->setEnabled(false);
    cb_5->setEnabled(false);
    ddlb_1->clear();
    ddlb_1->setEditable(true);
    ddlb_1->setInsertPolicy(QComboBox::NoInsert);
    m_pending = added->fabm;
    ddlb_1->setEditText(added->famc);
    m_dw_1->Retrieve({added->fabm, li_falx});
    // Typing replaces the default name.
    ddlb_1->lineEdit()->selectAll();
    ddlb_1->setFocus();
}

void w_zbfa_set::cancel()
{
    Sqlca& sqlca = host().sqlca();
    if (const Status s = zbfa::remove(sqlca, li_falx, m_pending); !s) {
        showError(s.error);
        return; // still adding: the new scheme is there
    }
    m_pending = 0;
    cb_1->setText(kAdd);
    ddlb_1->setEditable(false);
    // The new scheme's rows are gone; the grid does not show them any longer.
    m_dw_1->buffer().Reset();
    uf_restfamc();
    cb_5->setEnabled(zbfa::kindRows(sqlca, li_falx) >= 1);
    uf_firstfa();
}

void w_zbfa_set::save()
{
    const QString ls_famc = ddlb_1->currentText().trimmed();
    GridBuffer& grid = m_dw_1->buffer();
    grid.AcceptText();
    if (!confirmed(QStringLiteral("确认保存当前方案信息吗?")))
        return;
    if (const Status s = zbfa::save(host().sqlca(), grid, li_falx, ls_famc); !s) {
        showError(s.error);
        return;
    }
    cb_3->setEnabled(true);
    cb_5->setEnabled(true);
    ddlb_1->setEditable(false);
    cb_1->setText(kAdd);
    m_pending = 0;
    uf_restfamc();
    ddlb_1->setCurrentIndex(ddlb_1->findText(ls_famc, Qt::MatchExactly));
    // The grid is not read again, but its title names the scheme as saved.
    setTitle();
}

void w_zbfa_set::deleteScheme()
{
    const QString famc = ddlb_1->currentText();
    if (famc == QStringLiteral("预设方案")) {
        messages().MessageBox(kNotice, QStringLiteral("系统预设方案不可删除"));
        return;
    }
    if (famc.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择删除方案组"));
        return;
    }
    Sqlca& sqlca = host().sqlca();
    // Which scheme goes, and whether the report loses its default with it.
    const QString which = zbfa::isDefault(sqlca, famc, li_falx)
                              ? QStringLiteral("%1（默认方案）").arg(famc.trimmed())
                              : famc.trimmed();
    if (!confirmed(QStringLiteral("确认删除当前方案信息吗?\n\n方案：%1").arg(which)))
        return;
    const int li_fabm = zbfa::lookUp(sqlca, famc, li_falx);
    if (sqlca.SQLCode == -1) {
        showError(sqlca.SQLErrText);
        return;
    }
    m_dw_1->buffer().Reset();
    if (const Status s = zbfa::remove(sqlca, li_falx, li_fabm); !s)
        showError(s.error);
    uf_restfamc();
    uf_firstfa();
}

void w_zbfa_set::defaultGroup()
{
    if (!confirmed(QStringLiteral("确认设置当前方案为默认方案组吗?")))
        return;
    const QString famc = ddlb_1->currentText();
    if (const Status s = zbfa::makeDefault(host().sqlca(), li_falx, famc); !s)
        messages().MessageBox(kNotice, s.error, msg::Icon::Warning);
    else
        messages().MessageBox(kNotice, famc + QStringLiteral("已设置为默认方案组"));
    setTitle();
}

void w_zbfa_set::exitCommand()
{
    if (adding()) {
        if (!confirmed(QStringLiteral("确认放弃保存当前方案信息吗?")))
            return;
        if (const Status s = zbfa::remove(host().sqlca(), li_falx, m_pending); !s) {
            showError(s.error);
            return;
        }
        // The abandoned scheme is gone: its edits are not offered for saving.
        m_dw_1->buffer().Reset();
        m_pending = 0;
    }
    close();
}

void w_zbfa_set::viewFilter(QRadioButton* button, const QString& filter)
{
    if (!button->isChecked() || ddlb_1->count() < 1)
        return;
    GridBuffer& grid = m_dw_1->buffer();
    grid.SetRedraw(false);
    grid.SetSort(QStringLiteral("hh asc"));
    grid.Sort();
    grid.SetFilter(filter);
    grid.Filter();
    grid.SetRedraw(true);
}

int w_zbfa_set::closeQuery()
{
    GridBuffer& grid = m_dw_1->buffer();
    // A value still in the cell editor counts as an edit.
    m_dw_1->commitOpenEditor();
    if (grid.ModifiedCount() < 1)
        return 0;
    switch (messages().MessageBox(QString(), QStringLiteral("指标方案已修改，请确认是否保存？"),
                                  msg::Icon::Question, msg::Buttons::YesNoCancel)) {
    case msg::Yes:
        if (grid.Update() == 1)
            return 0;
        showError(host().sqlca().SQLErrText);
        return 1;
    case msg::No:
        return 0;
    default:
        return 1;
    }
}
