// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/ui/w_xmjdzl.h"

#include "foundation/places.h"
#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "menus/m_report.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <algorithm>

namespace {

QFont songti()
{
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(10);
    return f;
}

} // namespace

NoFiguresLine::NoFiguresLine(QTableView* table) : QLabel(table->viewport()), m_table(table)
{
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(11);
    setFont(f);
    setStyleSheet(QStringLiteral("color: #8a4b00; background: transparent;"));
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    table->viewport()->installEventFilter(this);
    // Under the last row, wherever the rows end.
    QAbstractItemModel* model = table->model();
    connect(model, &QAbstractItemModel::modelReset, this, &NoFiguresLine::place);
    connect(model, &QAbstractItemModel::layoutChanged, this, &NoFiguresLine::place);
    connect(model, &QAbstractItemModel::rowsInserted, this, &NoFiguresLine::place);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NoFiguresLine::place);
    connect(table->verticalHeader(), &QHeaderView::sectionResized, this, &NoFiguresLine::place);
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this, &NoFiguresLine::place);
}

void NoFiguresLine::say(const QString& text)
{
    setText(text);
    setVisible(!text.isEmpty());
    place();
}

void NoFiguresLine::place()
{
    if (text().isEmpty())
        return;
    QWidget* area = m_table->viewport();
    const int rowsEnd = m_table->verticalHeader()->length() - m_table->verticalHeader()->offset();
    const int height = fontMetrics().height() + 16;
    setGeometry(0, std::max(0, rowsEnd) + 24, area->width(), height);
}

bool NoFiguresLine::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table->viewport() && event->type() == QEvent::Resize)
        place();
    return QLabel::eventFilter(watched, event);
}

w_xmjdzl::w_xmjdzl(UiHost& host, QWidget* parent)
    : ModuleWindow(host, QStringLiteral("w_xmjdzl"), kRightsPosition, ShareOrder::MenuThenShare, parent)
{
    setWindowTitle(QStringLiteral("项目进度及借款质量表"));
    const QString pictures = pictureDir();
    const QString icon = QDir(pictures).filePath(QStringLiteral("BALLOON.ico"));
    if (!pictures.isEmpty() && QFile::exists(icon))
        setWindowIcon(QIcon(icon));
    // The client area below the menu and toolbar; the grid runs down to its bottom.
    setDesignSize(3717, 1960);

    QWidget* area = client();
    gb_1 = new QGroupBox(area);
    gb_1->setObjectName(QStringLiteral("gb_1"));
    st_3 = new QLabel(QStringLiteral("汇总指标:"), area);
    st_3->setObjectName(QStringLiteral("st_3"));
    ddlb_3 = new QComboBox(area);
    ddlb_3->setObjectName(QStringLiteral("ddlb_3"));
    cb_2 = new QPushButton(QStringLiteral("..."), area);
    cb_2->setObjectName(QStringLiteral("cb_2"));
    st_2 = new QLabel(QStringLiteral("查询期间:"), area);
    st_2->setObjectName(QStringLiteral("st_2"));
    ddlb_1 = new QComboBox(area);
    ddlb_1->setObjectName(QStringLiteral("ddlb_1"));
    ddlb_2 = new QComboBox(area);
    ddlb_2->setObjectName(QStringLiteral("ddlb_2"));
    st_1 = new QLabel(QStringLiteral("汇总区域:"), area);
    st_1->setObjectName(QStringLiteral("st_1"));
    em_1 = new RegionBox(area);
    em_1->setObjectName(QStringLiteral("em_1"));
    cb_qy = new QPushButton(QStringLiteral("..."), area);
    cb_qy->setObjectName(QStringLiteral("cb_qy"));
    cb_1 = new QPushButton(QStringLiteral("查询"), area);
    cb_1->setObjectName(QStringLiteral("cb_1"));
    cb_3 = new QPushButton(QStringLiteral("退出(&X)"), area);
    cb_3->setObjectName(QStringLiteral("cb_3"));
    m_dw_1 = new GridView(QStringLiteral("dw_1"), d_xmjdzl(), area);
    attachReportTidying(m_dw_1->buffer());
    st_status = new QLabel(this);
    st_status->setObjectName(QStringLiteral("st_status"));
    statusBar()->addWidget(st_status, 1);
    st_nodata = new NoFiguresLine(m_dw_1->table());
    st_nodata->setObjectName(QStringLiteral("st_nodata"));

    for (QWidget* w :
         {static_cast<QWidget*>(st_3), static_cast<QWidget*>(ddlb_3), static_cast<QWidget*>(cb_2),
          static_cast<QWidget*>(st_2), static_cast<QWidget*>(ddlb_1), static_cast<QWidget*>(ddlb_2),
          static_cast<QWidget*>(st_1), static_cast<QWidget*>(em_1), static_cast<QWidget*>(cb_qy),
          static_cast<QWidget*>(cb_1), static_cast<QWidget*>(cb_3)})
        w->setFont(songti());
    for (QPushButton* b : {cb_2, cb_qy, cb_1, cb_3})
        b->setCursor(Qt::PointingHandCursor);
    ddlb_1->setMaxVisibleItems(12);
    ddlb_2->setMaxVisibleItems(12);
    cb_2->setToolTip(QStringLiteral("编辑统计指标方案"));
    cb_qy->setToolTip(QStringLiteral("选择汇总区域"));

    // Design geometry in layout units; the control order is the declaration order.
    place(gb_1, 3040, 0, 620, 1010);
    place(st_3, 3074, 300, 420, 64);
    place(ddlb_3, 3074, 372, 556, 84);
    place(cb_2, 3548, 292, 82, 72);
    place(st_2, 3074, 500, 420, 64);
    place(ddlb_1, 3074, 572, 300, 84);
    place(ddlb_2, 3390, 572, 240, 84);
    place(st_1, 3074, 90, 420, 64);
    // The box ends where the picker's button starts, so its drop-down arrow shows.
    place(em_1, 3074, 162, 466, 84);
    place(cb_qy, 3548, 162, 82, 84);
    place(cb_1, 3150, 740, 400, 100);
    place(cb_3, 3150, 870, 400, 100);
    place(m_dw_1, 14, 12, 2971, 1936);
    // The small buttons stand over the boxes they overlap.
    cb_2->raise();
    cb_qy->raise();

    setTabOrder(m_dw_1, em_1);
    setTabOrder(em_1, cb_qy);
    setTabOrder(cb_qy, ddlb_3);
    setTabOrder(ddlb_3, cb_2);
    setTabOrder(cb_2, ddlb_1);
    setTabOrder(ddlb_1, ddlb_2);
    setTabOrder(ddlb_2, cb_1);
    setTabOrder(cb_1, cb_3);

    cb_1->setDefault(true);
    cb_1->setAutoDefault(true);
    connect(cb_1, &QPushButton::clicked, this, &w_xmjdzl::query);
    connect(cb_3, &QPushButton::clicked, this, &QWidget::close);
    connect(cb_qy, &QPushButton::clicked, this, &w_xmjdzl::pickRegion);
    connect(cb_2, &QPushButton::clicked, this, &w_xmjdzl::openSchemeEditor);

    // What the controls' constructors do: the period lists and the region box.
    fillYearsAndMonth();
    em_1->loadCodeTable(host.sqlca(), host.regionScope);
    em_1->setText(host.gs_userqybm);
}

w_xmjdzl::~w_xmjdzl() = default;

Menu* w_xmjdzl::createMenu()
{
    return new m_report();
}

void w_xmjdzl::fillYearsAndMonth()
{
    // The screen opens on the session period: its year and month (this year
    // when the period is unset), so a December period read in January does not
    // open on a month still to come.
    bool ok = false;
    const QString period = host().gs_kjqj.trimmed();
    int periodYear = period.size() == 6 ? period.left(4).toInt(&ok) : 0;
    if (!ok || periodYear < 2006)
        periodYear = QDate::currentDate().year();
    ddlb_1->clear();
    for (int year = 2006; year <= std::max(QDate::currentDate().year(), periodYear); ++year)
        ddlb_1->addItem(QString::number(year));
    ddlb_1->setCurrentText(QString::number(periodYear));
    ddlb_2->clear();
    for (int month = 1; month <= 12; ++month)
        ddlb_2->addItem(QString::number(month));
    const int month = host().gs_kjqj.right(2).toInt(&ok);
    if (ok && month >= 1 && month <= 12)
        ddlb_2->setCurrentText(QString::number(month));
}

void w_xmjdzl::start()
{
    fillSchemes();
}

void w_xmjdzl::fillSchemes()
{
    ddlb_3->clear();
    Sqlca& sqlca = host().sqlca();
    Cursor sel_famc(
        sqlca,
        QStringLiteral("SELECT s_zbfa.famc FROM s_zbfa WHERE s_zbfa.falx = ? GROUP BY s_zbfa.famc "
                       "ORDER BY min(s_zbfa.fabm)"),
        {1});
    if (sel_famc.open()) {
        QVariantList row;
        while (sel_famc.fetch(row))
            ddlb_3->addItem(row.value(0).toString());
        sel_famc.close();
    }
    if (ddlb_3->count() == 0)
        return;
    // The default scheme of the kind when there is one, else the first of the list.
    const QVariant preferred = sqlca.selectValue(
        QStringLiteral(
            "SELECT famc FROM s_zbfa WHERE falx = ? AND deffa = 1 GROUP BY famc ORDER BY famc LIMIT 1"),
        {1});
    const int index = preferred.isNull() ? -1 : ddlb_3->findText(preferred.toString(), Qt::MatchExactly);
    ddlb_3->setCurrentIndex(index >= 0 ? index : 0);
}

ReportRequest w_xmjdzl::request() const
{
    ReportRequest r;
    r.region = em_1->GetData();
    r.regionName = em_1->text();
    r.year = ddlb_1->currentText();
    r.month = ddlb_2->currentText();
    r.scheme = ddlb_3->currentText();
    return r;
}

void w_xmjdzl::query()
{
    const ReportRequest r = request();
    st_status->clear();
    st_nodata->say(QString());
    // A region s_qybm does not hold (a code typed by hand, say) would only give
    // an empty report under its code: say so instead.
    if (const QString region = r.region.trimmed(); !region.isEmpty()) {
        Sqlca& sqlca = host().sqlca();
        const QVariant held =
            sqlca.selectValue(QStringLiteral("SELECT count(*) FROM s_qybm WHERE trim(qybm) = ?"), {region});
        if (sqlca.SQLCode == 0 && held.toInt() == 0) {
            messages().MessageBox(QStringLiteral("提示信息"),
                                  QStringLiteral("找不到区域“%1”，请重新选择查询区域").arg(region));
            return;
        }
        // Outside the user's region, or the user removed meanwhile: said before any run.
        if (const Status may = host().mayQuery(region); !may) {
            messages().MessageBox(QStringLiteral("提示信息"), may.error);
            return;
        }
    }
    const RunOutcome outcome = runStatistics(host(), m_dw_1->buffer(), r);
    switch (outcome.kind) {
    case RunOutcome::Done:
        // A new report starts at its first row, and its files say what they hold.
        m_dw_1->table()->scrollToTop();
        m_dw_1->setFileTitle(
            reportFileStem(m_dw_1->title(), r.regionName,
                           QStringLiteral("%1年%2月").arg(r.year.trimmed()).arg(r.month.trimmed().toInt())));
        if (outcome.noFigures) {
            const QString month =
                QStringLiteral("%1年%2月").arg(r.year.trimmed()).arg(r.month.trimmed().toInt());
            st_status->setText(QStringLiteral("%1没有“%2”的统计数据").arg(month, r.regionName.trimmed()));
            // Said where the figures would be, not only in the status bar.
            st_nodata->say(QStringLiteral("%1 %2 没有统计数据").arg(month, r.regionName.trimmed()));
        }
        break;
    case RunOutcome::Refused:
        messages().MessageBox(QStringLiteral("提示信息"), outcome.message);
        break;
    case RunOutcome::Failed:
        // The database's own text, as the other commands show their errors.
        messages().MessageBox(QString(), outcome.message, msg::Icon::Warning);
        break;
    }
}

void w_xmjdzl::pickRegion()
{
    host().message.clear();
    host().w_xmqxz(this);
    const QString picked = host().message.stringParm;
    if (!picked.isEmpty())
        em_1->setText(picked);
}

void w_xmjdzl::openSchemeEditor()
{
    host().message.clear();
    host().message.numberParm = 1;
    // The editor opens on the scheme chosen here.
    host().message.stringParm = ddlb_3->currentText();
    QWidget* editor = host().openScreen(QStringLiteral("w_zbfa_set"), parentWidget() ? parentWidget() : this);
    // The editor renames and deletes schemes: when it closes the list follows,
    // keeping the chosen scheme while it still exists.
    if (editor)
        connect(editor, &QObject::destroyed, this, [this] {
            const QString chosen = ddlb_3->currentText();
            fillSchemes();
            if (const int i = ddlb_3->findText(chosen, Qt::MatchExactly); i >= 0)
                ddlb_3->setCurrentIndex(i);
        });
}

void w_xmjdzl::keyPressEvent(QKeyEvent* event)
{
    host().w_key();
    // "查询" is the screen's default button: Enter that no control took runs the query.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && cb_1->isEnabled()) {
        cb_1->click();
        return;
    }
    ModuleWindow::keyPressEvent(event);
}
