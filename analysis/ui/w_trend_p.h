// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parts of the trend screen share: the notice title, the table and
// chart drawing of a document, and the preview of the printed pages.

#include "analysis/ui/trendchart.h"

#include <QPainter>
#include <QString>
#include <QWidget>
#include <memory>

class QTableWidget;

namespace w_trend_detail {

extern const QString kNotice;

// The document's rows into a table widget as the screen shows them.
void fillTable(QTableWidget* table, const ChartDocument& doc);
// The chart's look on screen, as wide as the view that shows it.
ChartLook screenLook(const QWidget* view);

} // namespace w_trend_detail

// The printed pages of the shown tab, one under the other, as wide as the view.
class TrendPreview final : public QWidget
{
public:
    explicit TrendPreview(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("dw_preview")); }

    void setDocument(std::optional<ChartDocument> doc, bool landscape)
    {
        m_printer.reset();
        if (doc)
            m_printer = std::make_unique<ChartPrinter>(*doc, landscape ? QPageLayout::Landscape
                                                                       : QPageLayout::Portrait);
        updateGeometry();
        adjust();
        update();
    }
    int pages() const { return m_printer ? m_printer->pageCount() : 0; }

protected:
    void resizeEvent(QResizeEvent*) override { adjust(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(128, 128, 128));
        if (!m_printer)
            return;
        const QSizeF paper = m_printer->paperSize();
        const qreal scale = sheetScale();
        qreal y = kGap;
        for (int page = 1; page <= m_printer->pageCount(); ++page) {
            const QRectF sheet((width() - paper.width() * scale) / 2, y, paper.width() * scale,
                               paper.height() * scale);
            m_printer->paintSheet(painter, page, sheet);
            y += sheet.height() + kGap;
        }
    }

private:
    static constexpr int kGap = 16;
    qreal sheetScale() const
    {
        const QSizeF paper = m_printer->paperSize();
        return std::min(2.0, std::max(0.2, (width() - 2.0 * kGap) / paper.width()));
    }
    void adjust()
    {
        if (!m_printer) {
            setMinimumHeight(0);
            return;
        }
        const qreal h = m_printer->paperSize().height() * sheetScale();
        const int want = int(m_printer->pageCount() * (h + kGap) + kGap);
        if (minimumHeight() != want)
            setMinimumHeight(want);
    }

    std::unique_ptr<ChartPrinter> m_printer;
};
