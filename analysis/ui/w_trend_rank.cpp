// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking tab's runs: the sub-regions of a region, one statistics run each,
// stepped one per turn of the event loop, then ranked into a chart and a table.
#include "analysis/trendoutput.h"
#include "analysis/ui/w_trend.h"
#include "analysis/ui/w_trend_p.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/quiethost.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>

using namespace w_trend_detail;

bool w_trend::startRank()
{
    if (running())
        return false;
    RankRequest request;
    request.scheme = ddlb_3->currentText();
    request.region = regionCode();
    request.year = QString::number(em_month->date().year());
    request.month = em_month->date().month();
    request.indicator = ddlb_zb->currentData().toString();
    if (!checkRegion(request.region))
        return false;
    if (request.scheme.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择指标方案"));
        return false;
    }
    request.regionName = regionName();

    m_quiet = std::make_unique<QuietHost>(host());
    m_rankRun = std::make_unique<Rank>(*m_quiet, request);
    if (const TrendStep prepared = m_rankRun->prepare(); !prepared) {
        m_rankRun.reset();
        const bool refused = prepared.kind == TrendStep::Refused;
        messages().MessageBox(refused ? kNotice : QString(), prepared.message,
                              refused ? msg::Icon::Information : msg::Icon::Warning);
        return false;
    }
    m_cancelled = false;
    m_rankTable.reset();
    hpb_1->setRange(0, int(m_rankRun->total()));
    hpb_1->setTextVisible(true);
    hpb_1->setValue(0);
    st_progress->setText(QStringLiteral("正在统计，请稍候……"));
    setRunning(true);
    QTimer::singleShot(0, this, &w_trend::stepRank);
    return true;
}

void w_trend::stepRank()
{
    if (!m_rankRun)
        return;
    const qsizetype total = m_rankRun->total();
    if (m_cancelled || m_rankRun->atEnd()) {
        const qsizetype done = m_rankRun->done();
        if (done > 0) {
            // A cancelled ranking ranks the sub-regions run so far.
            RankTable table = m_rankRun->table();
            if (done < total) {
                table.rows = table.rows.mid(0, done);
                rankRows(table.rows);
            }
            m_rankTable = table;
            showRank();
        }
        m_rankRun.reset();
        endRun(m_cancelled ? QStringLiteral("已取消：完成 %1 / %2 个区域").arg(done).arg(total)
                           : QStringLiteral("完成：%1 个区域").arg(total),
               QString());
        return;
    }
    st_progress->setText(QStringLiteral("正在统计 ") + m_rankRun->caption(m_rankRun->done()));
    if (const TrendStep step = m_rankRun->next(); !step) {
        m_rankRun.reset();
        endRun(QStringLiteral("出错：") + step.message, step.message, step.kind == TrendStep::Refused);
        return;
    }
    hpb_1->setValue(int(m_rankRun->done()));
    QTimer::singleShot(0, this, &w_trend::stepRank);
}

void w_trend::showRank()
{
    if (!m_rankTable)
        return;
    const ChartDocument doc = rankDocument(*m_rankTable);
    fillTable(dw_rank, doc);
    QChart* old = cv_rank->chart();
    cv_rank->setChart(makeChart(doc, screenLook(cv_rank)).release());
    delete old;
    refreshPreview();
}
