// SPDX-License-Identifier: GPL-3.0-or-later
// The trend screen 指标趋势分析: its two tabs (趋势, the indicators over months;
// 排名, the sub-regions ranked), the region and scheme they share, and the
// trend tab's runs, stepped one month per turn of the event loop.
#include "analysis/ui/w_trend.h"

#include "analysis/trendoutput.h"
#include "analysis/ui/w_trend_p.h"
#include "foundation/places.h"
#include "foundation/sqlca.h"
#include "foundation/ui/filedialogs.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/quiethost.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"

#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QFont songti()
{
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(10);
    return f;
}

QString periodOf(const QDate& d)
{
    return d.toString(QStringLiteral("yyyyMM"));
}

QDate dateOf(const QString& period)
{
    bool ok = false;
    const int year = period.left(4).toInt(&ok);
    const int month = period.mid(4, 2).toInt();
    if (!ok || period.size() != 6 || month < 1 || month > 12)
        return QDate(QDate::currentDate().year(), QDate::currentDate().month(), 1);
    return QDate(year, month, 1);
}

QDateEdit* monthBox(QWidget* parent, const QString& name)
{
    auto* box = new QDateEdit(parent);
    box->setObjectName(name);
    box->setDisplayFormat(QStringLiteral("yyyy年M月"));
    box->setMinimumDate(QDate(2006, 1, 1));
    box->setCurrentSection(QDateTimeEdit::MonthSection);
    return box;
}

} // namespace

namespace w_trend_detail {

const QString kNotice = QStringLiteral("提示信息");

void fillTable(QTableWidget* table, const ChartDocument& doc)
{
    table->clear();
    table->setColumnCount(int(doc.columns.size()));
    table->setRowCount(int(doc.rows.size()));
    table->setHorizontalHeaderLabels(doc.columns);
    for (int r = 0; r < doc.rows.size(); ++r)
        for (int c = 0; c < doc.columns.size(); ++c) {
            auto* item = new QTableWidgetItem(doc.rows[r].value(c));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setTextAlignment((c < doc.leadColumns ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
            table->setItem(r, c, item);
        }
    table->resizeColumnsToContents();
}

ChartLook screenLook(const QWidget* view)
{
    ChartLook look;
    look.family = QStringLiteral("宋体");
    look.labelPixels = 12;
    if (view->isVisible()) {
        look.plotWidth = view->width();
        look.plotHeight = view->height();
    }
    return look;
}

} // namespace w_trend_detail

using namespace w_trend_detail;

w_trend::w_trend(UiHost& host, QWidget* parent)
    : ModuleWindow(host, QStringLiteral("w_trend"), kRightsPosition, ShareOrder::MenuThenShare, parent),
      m_share(host.gdw_share)
{
    setWindowTitle(QStringLiteral("指标趋势分析"));
    setDesignSize(3717, 1960);
    chooseSaveFile = [](QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter) {
        return filedialogs::saveFile(parent, caption, suggested, filter);
    };

    m_stack = new QStackedWidget(client());
    m_stack->setObjectName(QStringLiteral("sw_view"));
    auto* page = new QWidget(m_stack);
    page->setFont(songti());

    // Region and scheme, for both tabs.
    st_1 = new QLabel(QStringLiteral("汇总区域:"), page);
    st_1->setObjectName(QStringLiteral("st_1"));
    em_1 = new RegionBox(page);
    em_1->setObjectName(QStringLiteral("em_1"));
    em_1->setMinimumWidth(220);
    cb_qy = new QPushButton(QStringLiteral("..."), page);
    cb_qy->setObjectName(QStringLiteral("cb_qy"));
    cb_qy->setToolTip(QStringLiteral("选择汇总区域"));
    cb_qy->setFixedWidth(32);
    st_3 = new QLabel(QStringLiteral("汇总指标:"), page);
    st_3->setObjectName(QStringLiteral("st_3"));
    ddlb_3 = new QComboBox(page);
    ddlb_3->setObjectName(QStringLiteral("ddlb_3"));
    ddlb_3->setMinimumWidth(180);
    cb_3 = new QPushButton(QStringLiteral("退出(&X)"), page);
    cb_3->setObjectName(QStringLiteral("cb_3"));
    auto* top = new QHBoxLayout;
    top->addWidget(st_1);
    top->addWidget(em_1);
    top->addWidget(cb_qy);
    top->addSpacing(16);
    top->addWidget(st_3);
    top->addWidget(ddlb_3);
    top->addStretch(1);
    top->addWidget(cb_3);

    tab_1 = new QTabWidget(page);
    tab_1->setObjectName(QStringLiteral("tab_1"));

    // 趋势
    auto* trendPage = new QWidget(tab_1);
    trendPage->setObjectName(QStringLiteral("tabpage_trend"));
    lb_zb = new QListWidget(trendPage);
    lb_zb->setObjectName(QStringLiteral("lb_zb"));
    em_from = monthBox(trendPage, QStringLiteral("em_from"));
    em_to = monthBox(trendPage, QStringLiteral("em_to"));
    rb_line = new QRadioButton(QStringLiteral("折线图"), trendPage);
    rb_line->setObjectName(QStringLiteral("rb_line"));
    rb_line->setChecked(true);
    rb_bar = new QRadioButton(QStringLiteral("柱状图"), trendPage);
    rb_bar->setObjectName(QStringLiteral("rb_bar"));
    cb_1 = new QPushButton(QStringLiteral("查询"), trendPage);
    cb_1->setObjectName(QStringLiteral("cb_1"));
    cb_1->setDefault(true);
    cv_trend = new QChartView(trendPage);
    cv_trend->setObjectName(QStringLiteral("cv_trend"));
    cv_trend->setRenderHint(QPainter::Antialiasing);
    dw_trend = new QTableWidget(trendPage);
    dw_trend->setObjectName(QStringLiteral("dw_trend"));
    dw_trend->verticalHeader()->setVisible(false);
    auto* trendBar = new QHBoxLayout;
    trendBar->addWidget(new QLabel(QStringLiteral("起止月份:"), trendPage));
    trendBar->addWidget(em_from);
    trendBar->addWidget(new QLabel(QStringLiteral("至"), trendPage));
    trendBar->addWidget(em_to);
    trendBar->addSpacing(16);
    trendBar->addWidget(rb_line);
    trendBar->addWidget(rb_bar);
    trendBar->addSpacing(16);
    trendBar->addWidget(cb_1);
    trendBar->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("指标:"), trendPage));
    left->addWidget(lb_zb);
    auto* leftBox = new QWidget(trendPage);
    leftBox->setLayout(left);
    left->setContentsMargins(0, 0, 0, 0);
    auto* rightSplit = new QSplitter(Qt::Vertical, trendPage);
    rightSplit->addWidget(cv_trend);
    rightSplit->addWidget(dw_trend);
    rightSplit->setStretchFactor(0, 3);
    rightSplit->setStretchFactor(1, 2);
    rightSplit->setChildrenCollapsible(false);
    cv_trend->setMinimumHeight(240);
    // The month labels are laid out for the chart's width: redrawn when it changes.
    cv_trend->installEventFilter(this);
    dw_trend->setMinimumHeight(120);
    rightSplit->setSizes({600, 300});
    auto* split = new QSplitter(Qt::Horizontal, trendPage);
    split->addWidget(leftBox);
    split->addWidget(rightSplit);
    split->setStretchFactor(1, 1);
    split->setSizes({200, 900});
    auto* trendLayout = new QVBoxLayout(trendPage);
    trendLayout->addLayout(trendBar);
    trendLayout->addWidget(split, 1);
    tab_1->addTab(trendPage, QStringLiteral("趋势"));

    // 排名
    auto* rankPage = new QWidget(tab_1);
    rankPage->setObjectName(QStringLiteral("tabpage_rank"));
    em_month = monthBox(rankPage, QStringLiteral("em_month"));
    ddlb_zb = new QComboBox(rankPage);
    ddlb_zb->setObjectName(QStringLiteral("ddlb_zb"));
    ddlb_zb->setMinimumWidth(180);
    cb_rank = new QPushButton(QStringLiteral("排名"), rankPage);
    cb_rank->setObjectName(QStringLiteral("cb_rank"));
    cv_rank = new QChartView(rankPage);
    cv_rank->setObjectName(QStringLiteral("cv_rank"));
    cv_rank->setRenderHint(QPainter::Antialiasing);
    dw_rank = new QTableWidget(rankPage);
    dw_rank->setObjectName(QStringLiteral("dw_rank"));
    dw_rank->verticalHeader()->setVisible(false);
    auto* rankBar = new QHBoxLayout;
    rankBar->addWidget(new QLabel(QStringLiteral("月份:"), rankPage));
    rankBar->addWidget(em_month);
    rankBar->addSpacing(16);
    rankBar->addWidget(new QLabel(QStringLiteral("指标:"), rankPage));
    rankBar->addWidget(ddlb_zb);
    rankBar->addSpacing(16);
    rankBar->addWidget(cb_rank);
    rankBar->addStretch(1);
    auto* rankSplit = new QSplitter(Qt::Horizontal, rankPage);
    rankSplit->addWidget(cv_rank);
    rankSplit->addWidget(dw_rank);
    rankSplit->setStretchFactor(0, 3);
    rankSplit->setStretchFactor(1, 2);
    rankSplit->setSizes({800, 450});
    auto* rankLayout = new QVBoxLayout(rankPage);
    rankLayout->addLayout(rankBar);
    rankLayout->addWidget(rankSplit, 1);
    tab_1->addTab(rankPage, QStringLiteral("排名"));

    // The run under way.
    hpb_1 = new QProgressBar(page);
    hpb_1->setObjectName(QStringLiteral("hpb_1"));
    hpb_1->setRange(0, 1);
    hpb_1->setValue(0);
    hpb_1->setFormat(QStringLiteral("%v/%m"));
    hpb_1->setTextVisible(false);
    hpb_1->setMaximumWidth(320);
    st_progress = new QLabel(page);
    st_progress->setObjectName(QStringLiteral("st_progress"));
    cb_cancel = new QPushButton(QStringLiteral("取消"), page);
    cb_cancel->setObjectName(QStringLiteral("cb_cancel"));
    cb_cancel->setEnabled(false);
    auto* progress = new QHBoxLayout;
    progress->addWidget(hpb_1, 1);
    progress->addWidget(cb_cancel);
    progress->addWidget(st_progress, 2);

    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addLayout(top);
    pageLayout->addWidget(tab_1, 1);
    pageLayout->addLayout(progress);
    m_stack->addWidget(page);

    m_previewArea = new QScrollArea(m_stack);
    m_previewArea->setObjectName(QStringLiteral("sa_preview"));
    m_previewArea->setWidgetResizable(true);
    m_preview = new TrendPreview(m_previewArea);
    m_previewArea->setWidget(m_preview);
    m_stack->addWidget(m_previewArea);

    place(m_stack, 0, 0, 3717, 1960);

    for (QPushButton* b : {cb_qy, cb_1, cb_rank, cb_cancel, cb_3})
        b->setCursor(Qt::PointingHandCursor);

    connect(cb_qy, &QPushButton::clicked, this, &w_trend::pickRegion);
    connect(ddlb_3, &QComboBox::currentTextChanged, this, &w_trend::fillIndicators);
    connect(cb_1, &QPushButton::clicked, this, &w_trend::startTrend);
    connect(cb_rank, &QPushButton::clicked, this, &w_trend::startRank);
    connect(cb_cancel, &QPushButton::clicked, this, &w_trend::cancel);
    connect(cb_3, &QPushButton::clicked, this, &QWidget::close);
    connect(rb_bar, &QRadioButton::toggled, this, [this] {
        if (m_trendTable)
            showTrend();
    });
    connect(tab_1, &QTabWidget::currentChanged, this, &w_trend::refreshPreview);

    // The months: the twelve up to the session period, the ranking in it.
    const QDate last = dateOf(host.gs_kjqj.trimmed());
    const QDate newest = std::max(last, QDate(QDate::currentDate().year(), QDate::currentDate().month(), 1));
    for (QDateEdit* box : {em_from, em_to, em_month})
        box->setMaximumDate(newest);
    em_to->setDate(last);
    em_from->setDate(last.addMonths(-11));
    em_month->setDate(last);

    em_1->loadCodeTable(host.sqlca(), host.regionScope);
    em_1->setText(host.gs_userqybm);
}

w_trend::~w_trend() = default;

Menu* w_trend::createMenu()
{
    return new m_trend();
}

void w_trend::beforeBind()
{
    // The screen has no grid of its own: the shared grid stays the one the
    // other screens registered.
    host().gdw_share = m_share;
}

void w_trend::start()
{
    fillSchemes();
}

void w_trend::closeEvent(QCloseEvent* event)
{
    // Closing stops a run after the month under way; nothing is left half-done in t_stat.
    m_trendRun.reset();
    m_rankRun.reset();
    ModuleWindow::closeEvent(event);
}

void w_trend::keyPressEvent(QKeyEvent* event)
{
    host().w_key();
    // Enter that no control took starts the shown tab's query, as on the report screen.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QPushButton* query = tab_1->currentIndex() == 0 ? cb_1 : cb_rank;
        if (query->isEnabled() && !previewShown()) {
            query->click();
            return;
        }
    }
    ModuleWindow::keyPressEvent(event);
}

void w_trend::fillSchemes()
{
    ddlb_3->blockSignals(true);
    ddlb_3->clear();
    Sqlca& sqlca = host().sqlca();
    if (const auto rows =
            sqlca.selectAll(QStringLiteral("SELECT famc FROM s_zbfa WHERE falx = ? GROUP BY famc "
                                           "ORDER BY min(fabm)"),
                            {1}))
        for (const QVariantList& row : *rows)
            ddlb_3->addItem(row.value(0).toString());
    const QVariant preferred = sqlca.selectValue(
        QStringLiteral(
            "SELECT famc FROM s_zbfa WHERE falx = ? AND deffa = 1 GROUP BY famc ORDER BY famc LIMIT 1"),
        {1});
    const int index = preferred.isNull() ? -1 : ddlb_3->findText(preferred.toString(), Qt::MatchExactly);
    ddlb_3->setCurrentIndex(index >= 0 ? index : (ddlb_3->count() > 0 ? 0 : -1));
    ddlb_3->blockSignals(false);
    fillIndicators();
}

void w_trend::fillIndicators()
{
    QStringList checked;
    for (int i = 0; i < lb_zb->count(); ++i)
        if (lb_zb->item(i)->checkState() == Qt::Checked)
            checked << lb_zb->item(i)->data(Qt::UserRole).toString();
    const QString ranked = ddlb_zb->currentData().toString();
    lb_zb->clear();
    ddlb_zb->clear();
    if (ddlb_3->currentText().isEmpty())
        return;
    // The indicators the scheme shows, as the trend itself reads them.
    TrendRequest probe;
    probe.scheme = ddlb_3->currentText();
    probe.region = QStringLiteral("-");
    probe.from = probe.to = periodOf(em_to->date());
    Trend trend(host(), probe);
    if (!trend.prepare())
        return;
    for (const TrendRow& row : trend.table().rows) {
        auto* item = new QListWidgetItem(row.name, lb_zb);
        item->setData(Qt::UserRole, row.code);
        item->setToolTip(row.code);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(checked.contains(row.code) ? Qt::Checked : Qt::Unchecked);
        ddlb_zb->addItem(row.name, row.code);
    }
    if (const int i = ddlb_zb->findData(ranked); i >= 0)
        ddlb_zb->setCurrentIndex(i);
}

void w_trend::pickRegion()
{
    host().message.clear();
    host().w_xmqxz(this);
    const QString picked = host().message.stringParm;
    if (!picked.isEmpty())
        em_1->setText(picked);
}

QString w_trend::regionCode() const
{
    return em_1->GetData().trimmed();
}

QString w_trend::regionName() const
{
    const QString shown = em_1->text().trimmed();
    if (shown != regionCode())
        return shown;
    // A code typed by hand that the box holds no name for: the name from s_qybm.
    const QVariant name = host().sqlca().selectValue(
        QStringLiteral("SELECT min(trim(qymc)) FROM s_qybm WHERE trim(qybm) = ?"), {shown});
    return name.isNull() ? shown : name.toString();
}

bool w_trend::checkRegion(const QString& code)
{
    if (code.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择查询区域"));
        return false;
    }
    Sqlca& sqlca = host().sqlca();
    const QVariant held =
        sqlca.selectValue(QStringLiteral("SELECT count(*) FROM s_qybm WHERE trim(qybm) = ?"), {code});
    if (sqlca.SQLCode == 0 && held.toInt() == 0) {
        messages().MessageBox(kNotice, QStringLiteral("找不到区域“%1”，请重新选择查询区域").arg(code));
        return false;
    }
    if (const Status may = host().mayQuery(code); !may) {
        messages().MessageBox(kNotice, may.error);
        return false;
    }
    return true;
}

void w_trend::setRunning(bool on)
{
    for (QWidget* w : std::initializer_list<QWidget*>{em_1, cb_qy, ddlb_3, lb_zb, em_from, em_to, cb_1,
                                                      em_month, ddlb_zb, cb_rank})
        w->setEnabled(!on);
    cb_cancel->setEnabled(on);
    if (menu())
        for (MenuItem* item : menu()->items())
            if (item->name() != u"m_退出")
                item->setEnabled(!on);
}

bool w_trend::startTrend()
{
    if (running())
        return false;
    TrendRequest request;
    request.scheme = ddlb_3->currentText();
    request.region = regionCode();
    request.from = periodOf(em_from->date());
    request.to = periodOf(em_to->date());
    for (int i = 0; i < lb_zb->count(); ++i)
        if (lb_zb->item(i)->checkState() == Qt::Checked)
            request.indicators << lb_zb->item(i)->data(Qt::UserRole).toString();
    if (!checkRegion(request.region))
        return false;
    if (request.scheme.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择指标方案"));
        return false;
    }
    if (request.indicators.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请至少勾选一个指标"));
        return false;
    }
    if (request.from > request.to) {
        messages().MessageBox(kNotice, QStringLiteral("起始月份不能晚于结束月份"));
        return false;
    }
    request.regionName = regionName();

    m_quiet = std::make_unique<QuietHost>(host());
    m_trendRun = std::make_unique<Trend>(*m_quiet, request);
    if (const TrendStep prepared = m_trendRun->prepare(); !prepared) {
        m_trendRun.reset();
        const bool refused = prepared.kind == TrendStep::Refused;
        messages().MessageBox(refused ? kNotice : QString(), prepared.message,
                              refused ? msg::Icon::Information : msg::Icon::Warning);
        return false;
    }
    m_cancelled = false;
    m_trendTable.reset();
    hpb_1->setRange(0, int(m_trendRun->total()));
    hpb_1->setTextVisible(true);
    hpb_1->setValue(0);
    st_progress->setText(QStringLiteral("正在统计，请稍候……"));
    setRunning(true);
    QTimer::singleShot(0, this, &w_trend::stepTrend);
    return true;
}

void w_trend::cancel()
{
    if (running())
        m_cancelled = true;
}

void w_trend::stepTrend()
{
    if (!m_trendRun)
        return;
    const qsizetype total = m_trendRun->total();
    if (m_cancelled || m_trendRun->atEnd()) {
        // What has been run so far is shown: the months not run are left out,
        // not shown as months without figures.
        TrendTable table = m_trendRun->table();
        const qsizetype done = m_trendRun->done();
        table.periods = table.periods.mid(0, done);
        table.captions = table.captions.mid(0, done);
        for (TrendRow& row : table.rows)
            row.values = row.values.mid(0, done);
        if (done > 0) {
            m_trendTable = table;
            showTrend();
        }
        m_trendRun.reset();
        endRun(m_cancelled ? QStringLiteral("已取消：完成 %1 / %2 个月").arg(done).arg(total)
                           : QStringLiteral("完成：%1 个月").arg(total),
               QString());
        return;
    }
    const QString caption = m_trendRun->caption(m_trendRun->done());
    st_progress->setText(QStringLiteral("正在统计 ") + caption);
    if (const TrendStep step = m_trendRun->next(); !step) {
        m_trendRun.reset();
        endRun(QStringLiteral("出错：") + step.message, step.message, step.kind == TrendStep::Refused);
        return;
    }
    hpb_1->setValue(int(m_trendRun->done()));
    // One month per turn of the event loop: the window keeps answering.
    QTimer::singleShot(0, this, &w_trend::stepTrend);
}

void w_trend::endRun(const QString& status, const QString& error, bool refused)
{
    m_quiet.reset();
    setRunning(false);
    st_progress->setText(status);
    refreshPreview();
    if (!error.isEmpty())
        messages().MessageBox(refused ? kNotice : QString(), error,
                              refused ? msg::Icon::Information : msg::Icon::Warning);
    emit runFinished();
}

void w_trend::showTrend()
{
    if (!m_trendTable)
        return;
    const ChartDocument doc = trendDocument(*m_trendTable, rb_bar->isChecked());
    fillTable(dw_trend, doc);
    redrawTrendChart();
    refreshPreview();
}

void w_trend::redrawTrendChart()
{
    if (!m_trendTable)
        return;
    QChart* old = cv_trend->chart();
    cv_trend->setChart(
        makeChart(trendDocument(*m_trendTable, rb_bar->isChecked()), screenLook(cv_trend)).release());
    delete old;
}

bool w_trend::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == cv_trend && event->type() == QEvent::Resize && m_trendTable) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        // Once the width has settled, not for every step of a drag.
        if (resize->oldSize().width() != resize->size().width()) {
            if (!m_relabel) {
                m_relabel = new QTimer(this);
                m_relabel->setSingleShot(true);
                m_relabel->setInterval(150);
                connect(m_relabel, &QTimer::timeout, this, &w_trend::redrawTrendChart);
            }
            m_relabel->start();
        }
    }
    return ModuleWindow::eventFilter(watched, event);
}
