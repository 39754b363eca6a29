// SPDX-License-Identifier: GPL-3.0-or-later
// What the trend screen gives out: its 文件 menu m_trend, the document of the
// shown tab, its preview, printout, PDF, PNG and spreadsheet.
#include "analysis/trendoutput.h"
#include "analysis/ui/w_trend.h"
#include "analysis/ui/w_trend_p.h"
#include "foundation/places.h"
#include "foundation/sqlca.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/quiethost.h"
#include "foundation/ui/showfolder.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"

#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
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

QString g_printFolder;

} // namespace

using namespace w_trend_detail;

m_trend::m_trend() : Menu(QStringLiteral("m_trend"))
{
    m_excel = addItem({QStringLiteral("m_excel"),
                       QStringLiteral("另存为..."),
                       {},
                       QStringLiteral("保存为Excel文件"),
                       QStringLiteral("saveas!"),
                       {},
                       QStringLiteral("另存为Excel文件")});
    m_pdf = addItem({QStringLiteral("m_pdf"),
                     QStringLiteral("保存为PDF..."),
                     {},
                     QStringLiteral("把图表和表格保存为PDF文件"),
                     QStringLiteral("Save!"),
                     {},
                     QStringLiteral("保存为PDF")});
    m_png = addItem({QStringLiteral("m_png"),
                     QStringLiteral("保存图表图片..."),
                     {},
                     QStringLiteral("把图表保存为PNG图片"),
                     QStringLiteral("saveas!"),
                     {},
                     QStringLiteral("保存图表图片")});
    m_print = addItem({QStringLiteral("m_打印"),
                       QStringLiteral("打印\tCtrl+P"),
                       QKeySequence(Qt::CTRL | Qt::Key_P),
                       QStringLiteral("打印"),
                       QStringLiteral("print!"),
                       {},
                       QStringLiteral("打印")});
    m_preview = addItem({QStringLiteral("m_preview"),
                         QStringLiteral("打印预缆\tCtrl+V"),
                         QKeySequence(Qt::CTRL | Qt::Key_V),
                         QStringLiteral("打印预缆"),
                         QStringLiteral("preview!"),
                         {},
                         QStringLiteral("打印预览")});
    m_printvh = addItem({QStringLiteral("m_printvh"),
                         QStringLiteral("纵向横向打印"),
                         {},
                         {},
                         QStringLiteral(".\\pic\\print_v.bmp"),
                         QStringLiteral(".\\pic\\Print_H.bmp"),
                         QStringLiteral("横向或纵向打印选择")});
    m_exit = addItem({QStringLiteral("m_退出"),
                      QStringLiteral("退出\tCtrl+X"),
                      QKeySequence(Qt::CTRL | Qt::Key_X),
                      QStringLiteral("退出本窗口"),
                      QStringLiteral("exit!"),
                      {},
                      QStringLiteral("退出")});

    const auto window = [this] { return qobject_cast<w_trend*>(parentWindow()); };
    connect(m_excel, &MenuItem::clicked, this, [window] {
        if (w_trend* w = window())
            w->saveAs(QStringLiteral("xlsx"));
    });
    connect(m_pdf, &MenuItem::clicked, this, [window] {
        if (w_trend* w = window())
            w->saveAs(QStringLiteral("pdf"));
    });
    connect(m_png, &MenuItem::clicked, this, [window] {
        if (w_trend* w = window())
            w->saveAs(QStringLiteral("png"));
    });
    connect(m_print, &MenuItem::clicked, this, [window] {
        if (w_trend* w = window())
            w->Print();
    });
    connect(m_preview, &MenuItem::clicked, this, [this, window] {
        const bool on = m_preview->toggle(QStringLiteral("取消预缆"), QStringLiteral("打印预缆"));
        if (w_trend* w = window())
            w->setPreview(on);
    });
    connect(m_printvh, &MenuItem::clicked, this, [this, window] {
        const bool on = m_printvh->toggle(QStringLiteral("横向打印"), QStringLiteral("纵向打印"));
        if (w_trend* w = window())
            w->setLandscape(on);
    });
    connect(m_exit, &MenuItem::clicked, this, [this] {
        if (parentWindow())
            parentWindow()->close();
    });
}

void w_trend::setPrintFolder(const QString& folder)
{
    g_printFolder = folder;
}

std::optional<ChartDocument> w_trend::document() const
{
    if (tab_1->currentIndex() == 0)
        return m_trendTable ? std::optional(trendDocument(*m_trendTable, rb_bar->isChecked())) : std::nullopt;
    return m_rankTable ? std::optional(rankDocument(*m_rankTable)) : std::nullopt;
}

QString w_trend::fileTitle() const
{
    if (tab_1->currentIndex() == 0 && m_trendTable) {
        const TrendTable& t = *m_trendTable;
        const QString span = t.captions.isEmpty() ? QString()
                             : t.captions.size() == 1
                                 ? t.captions.first()
                                 : t.captions.first() + QStringLiteral("至") + t.captions.last();
        return reportFileStem(t.title, t.regionName, span);
    }
    if (tab_1->currentIndex() == 1 && m_rankTable)
        return reportFileStem(m_rankTable->title + QStringLiteral("-") + m_rankTable->name,
                              m_rankTable->regionName, m_rankTable->caption);
    return reportFileStem(windowTitle());
}

void w_trend::refreshPreview()
{
    if (previewShown())
        m_preview->setDocument(document(), m_landscape);
}

void w_trend::setPreview(bool on)
{
    if (on)
        m_preview->setDocument(document(), m_landscape);
    m_stack->setCurrentIndex(on ? 1 : 0);
}

bool w_trend::previewShown() const
{
    return m_stack->currentIndex() == 1;
}

void w_trend::setLandscape(bool on)
{
    m_landscape = on;
    refreshPreview();
}

int w_trend::pageCount() const
{
    const auto doc = document();
    return doc ? ChartPrinter(*doc, m_landscape ? QPageLayout::Landscape : QPageLayout::Portrait).pageCount()
               : 0;
}

int w_trend::Print()
{
    const auto doc = document();
    if (!doc) {
        messages().MessageBox(kNotice, QStringLiteral("请先查询，再打印"));
        return -1;
    }
    const ChartPrinter pages(*doc, m_landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    const QPrinterInfo printerInfo =
        g_printFolder.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo();
    QString error;
    if (printerInfo.isNull()) {
        // No printer: the pages go to a PDF file the user is told about.
        const QString folder = g_printFolder.isEmpty() ? lastFileFolder() : g_printFolder;
        QDir().mkpath(folder);
        const QString path = freeFilePath(QDir(folder).filePath(fileTitle() + QStringLiteral(".pdf")));
        if (!savePdf(path))
            return -1;
        m_lastPrintTarget = path;
        const int answer = messages().MessageBox(kNotice,
                                                 QStringLiteral("没有找到打印机，报表已保存为PDF文件：\n") +
                                                     QDir::toNativeSeparators(path) +
                                                     QStringLiteral("\n\n打开所在的文件夹吗？"),
                                                 msg::Icon::Question, msg::Buttons::YesNo);
        if (answer == msg::Yes && g_printFolder.isEmpty())
            showFolder(folder, this);
        return 1;
    }
    QPrinter printer(printerInfo, QPrinter::HighResolution);
    printer.setDocName(fileTitle());
    if (!pages.print(printer, &error)) {
        messages().MessageBox(kNotice, QStringLiteral("打印失败：") + error, msg::Icon::Warning);
        return -1;
    }
    m_lastPrintTarget = printerInfo.printerName();
    return 1;
}

bool w_trend::savePdf(const QString& path)
{
    const auto doc = document();
    QString error;
    if (!doc ||
        !writeChartPdf(*doc, path, &error, m_landscape ? QPageLayout::Landscape : QPageLayout::Portrait)) {
        messages().MessageBox(kNotice, QStringLiteral("保存失败：") + error, msg::Icon::Warning);
        return false;
    }
    return true;
}

bool w_trend::savePng(const QString& path)
{
    const auto doc = document();
    QString error;
    if (!doc || !writeChartPng(*doc, path, &error)) {
        messages().MessageBox(kNotice, QStringLiteral("保存失败：") + error, msg::Icon::Warning);
        return false;
    }
    return true;
}

bool w_trend::saveXlsx(const QString& path)
{
    Status written = Status::failure(QStringLiteral("nothing to save"));
    if (tab_1->currentIndex() == 0 && m_trendTable)
        written = writeTrendXlsx(*m_trendTable, path, rb_bar->isChecked());
    else if (tab_1->currentIndex() == 1 && m_rankTable)
        written = writeRankXlsx(*m_rankTable, path);
    if (!written) {
        messages().MessageBox(kNotice, QStringLiteral("保存失败：") + written.error, msg::Icon::Warning);
        return false;
    }
    return true;
}

void w_trend::saveAs(const QString& format)
{
    if (!document()) {
        messages().MessageBox(kNotice, QStringLiteral("请先查询，再保存"));
        return;
    }
    struct Kind
    {
        QString caption;
        QString filter;
    };
    const Kind kind =
        format == u"xlsx" ? Kind{QStringLiteral("保存为Excel文件"), QStringLiteral("Excel 工作簿 (*.xlsx)")}
        : format == u"pdf" ? Kind{QStringLiteral("保存为PDF文件"), QStringLiteral("PDF 文件 (*.pdf)")}
                           : Kind{QStringLiteral("保存图表图片"), QStringLiteral("PNG 图片 (*.png)")};
    const QString suggested = QDir(lastFileFolder()).filePath(fileTitle() + QStringLiteral(".") + format);
    QString path = chooseSaveFile(this, kind.caption, suggested, kind.filter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".") + format, Qt::CaseInsensitive))
        path += QStringLiteral(".") + format;
    const bool ok = format == u"xlsx" ? saveXlsx(path) : format == u"pdf" ? savePdf(path) : savePng(path);
    if (ok) {
        rememberFileFolder(QFileInfo(path).absolutePath());
        st_progress->setText(QStringLiteral("已保存：") + QDir::toNativeSeparators(path));
    }
}
