// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/trend.h"
#include "analysis/ui/trendchart.h"
#include "foundation/ui/menu.h"
#include "foundation/ui/modulewindow.h"

#include <functional>
#include <memory>
#include <optional>

class QuietHost;
class QTimer;
class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QStackedWidget;
class QTabWidget;
class QTableWidget;
class RegionBox;
class TrendPreview;

// The menu of the trend screen: the spreadsheet, PDF and picture of what the
// shown tab holds, print, the preview and orientation toggles, and close.
class m_trend final : public Menu
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(m_trend)

public:
    m_trend();

    MenuItem* m_excel;
    MenuItem* m_pdf;
    MenuItem* m_png;
    MenuItem* m_print; // m_打印
    MenuItem* m_preview;
    MenuItem* m_printvh;
    MenuItem* m_exit; // m_退出
};

// "指标趋势分析": tab 趋势 follows indicators of a kind-1 scheme over a range
// of months for a region (chart above, table of the months below); tab 排名
// ranks the sub-regions of the region one level down by one indicator in one
// month. Every figure is a whole statistics run of that month and region, run
// one per turn of the event loop with a progress bar; 取消 stops after the
// run under way.
class w_trend final : public ModuleWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_trend)

public:
    static constexpr int kRightsPosition = 25; // the report's right

    explicit w_trend(UiHost& host, QWidget* parent = nullptr);
    ~w_trend() override;

    // Shared by both tabs.
    QLabel* st_1;
    RegionBox* em_1;
    QPushButton* cb_qy;
    QLabel* st_3;
    QComboBox* ddlb_3;
    QTabWidget* tab_1;
    // 趋势
    QListWidget* lb_zb; // the scheme's indicators, checkable
    QDateEdit* em_from;
    QDateEdit* em_to;
    QRadioButton* rb_line;
    QRadioButton* rb_bar;
    QPushButton* cb_1; // 查询
    QChartView* cv_trend;
    QTableWidget* dw_trend;
    // 排名
    QDateEdit* em_month;
    QComboBox* ddlb_zb;
    QPushButton* cb_rank;
    QChartView* cv_rank;
    QTableWidget* dw_rank;
    // The run under way.
    QProgressBar* hpb_1;
    QLabel* st_progress;
    QPushButton* cb_cancel;
    QPushButton* cb_3; // 退出

    // Starts the trend or the ranking of the screen's choices; false when a
    // check refused it (the user has been told why) or a run is under way.
    bool startTrend();
    bool startRank();
    // Stops after the statistics run under way.
    void cancel();
    bool running() const { return m_trendRun || m_rankRun; }

    // What the tabs show (none before the first query).
    const std::optional<TrendTable>& trendTable() const { return m_trendTable; }
    const std::optional<RankTable>& rankTable() const { return m_rankTable; }
    // The shown tab as chart, table and page; none when it holds nothing yet.
    std::optional<ChartDocument> document() const;
    // The name its files are offered under: "指标趋势分析-石桥市-2024年1月至2025年12月".
    QString fileTitle() const;

    // Output of the shown tab. Print() prints on the default printer, or
    // without one writes a PDF beside the files saved last (a notice names it).
    int Print();
    bool savePdf(const QString& path);
    bool savePng(const QString& path);
    bool saveXlsx(const QString& path);
    // The menu's save commands: ask for the file, then save.
    void saveAs(const QString& format);
    // The preview of the printed pages in place of the tabs.
    void setPreview(bool on);
    bool previewShown() const;
    void setLandscape(bool on);
    bool landscape() const { return m_landscape; }
    int pageCount() const;

    // Seams: the save dialog, and a folder every Print() writes its PDF into.
    std::function<QString(QWidget* parent, const QString& caption, const QString& suggested,
                          const QString& filter)>
        chooseSaveFile;
    static void setPrintFolder(const QString& folder);
    QString lastPrintTarget() const { return m_lastPrintTarget; }

signals:
    // A run ended: done, cancelled or failed.
    void runFinished();

protected:
    Menu* createMenu() override;
    void beforeBind() override;
    void start() override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillSchemes();
    void fillIndicators();
    void pickRegion();
    QString regionCode() const;
    QString regionName() const;
    bool checkRegion(const QString& code);
    void setRunning(bool on);
    void stepTrend();
    void stepRank();
    void endRun(const QString& status, const QString& error, bool refused = false);
    void showTrend();
    void redrawTrendChart();
    void showRank();
    void refreshPreview();

    std::unique_ptr<QuietHost> m_quiet;
    QTimer* m_relabel = nullptr;
    std::unique_ptr<Trend> m_trendRun;
    std::unique_ptr<Rank> m_rankRun;
    std::optional<TrendTable> m_trendTable;
    std::optional<RankTable> m_rankTable;
    bool m_cancelled = false;
    bool m_landscape = true;
    GridView* m_share = nullptr;
    QStackedWidget* m_stack = nullptr;
    QScrollArea* m_previewArea = nullptr;
    TrendPreview* m_preview = nullptr;
    QString m_lastPrintTarget;
};
