// SPDX-License-Identifier: GPL-3.0-or-later
// What the grid paints besides its table: the title band over it and the
// print preview's pages.
#include "foundation/gridprint.h"
#include "foundation/places.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/gridview_p.h"
#include "foundation/ui/messages.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

namespace gridview_detail {

// ---------------------------------------------------------------- title band

TitleBand::TitleBand(const GridBuffer& buffer, QWidget* parent) : QWidget(parent), m_buffer(buffer)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

static QFont fontOf(const GridText& t)
{
    QFont f(t.family);
    f.setPointSize(t.pointSize);
    f.setBold(t.bold);
    return f;
}

QList<TitleBand::Line> TitleBand::lines() const
{
    QMap<int, Line> byLine;
    for (const GridText& t : m_buffer.layout().texts) {
        Line& l = byLine[t.line];
        l.texts << &t;
        l.height = qMax(l.height, QFontMetrics(fontOf(t)).height() + (t.pointSize >= 14 ? 16 : 6));
    }
    return byLine.values();
}

QSize TitleBand::sizeHint() const
{
    int h = 0;
    for (const Line& l : lines())
        h += l.height;
    return {400, h > 0 ? h + 8 : 0};
}

void TitleBand::refresh()
{
    updateGeometry();
    update();
}

void TitleBand::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    int y = 4;
    const QRect area = rect().adjusted(1, 0, -1, 0);
    bool first = true;
    for (const Line& l : lines()) {
        for (const GridText* t : l.texts) {
            p.setFont(fontOf(*t));
            p.setPen(t->pointSize >= 14 ? QColor(0x10, 0x2a, 0x2a) : QColor(0x30, 0x30, 0x30));
            p.drawText(QRect(area.left(), y, area.width(), l.height), int(t->alignment) | Qt::AlignVCenter,
                       m_buffer.text(t->name));
        }
        y += l.height;
        if (first && l.texts.size() == 1 && l.texts.first()->pointSize >= 14) {
            // The title's double rule, as on the printed page.
            const int w =
                qMin(area.width(), QFontMetrics(fontOf(*l.texts.first()))
                                           .horizontalAdvance(m_buffer.text(l.texts.first()->name)) +
                                       80);
            const int x = area.left() + (area.width() - w) / 2;
            p.setPen(QPen(QColor(0, 128, 128), 1.2));
            p.drawLine(x, y - 6, x + w, y - 6);
            p.setPen(QPen(QColor(0, 128, 128), 0.6));
            p.drawLine(x, y - 3, x + w, y - 3);
        }
        first = false;
    }
}

// ---------------------------------------------------------------- preview

PreviewPages::PreviewPages(const GridBuffer& buffer, QWidget* parent)
    : QWidget(parent), m_buffer(buffer), m_printer(buffer)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0x8a, 0x93, 0x99));
    setPalette(p);
}

namespace {
constexpr int kDeskMargin = 24;
} // namespace

double PreviewPages::zoom() const
{
    // Screen pixels per point: the sheet fits the width of the view, between
    // 60 % and life size.
    const double paperWidth = m_printer.paperSize().width();
    const QWidget* viewport = parentWidget();
    const double available = viewport ? viewport->width() - 2 * kDeskMargin : paperWidth;
    return qBound(0.6, available / paperWidth, 96.0 / 72.0);
}

QSizeF PreviewPages::pagePixels() const
{
    return m_printer.paperSize() * zoom();
}

void PreviewPages::refresh()
{
    m_pageCount = m_printer.pageCount();
    resize(sizeHint());
    update();
}

QSize PreviewPages::sizeHint() const
{
    const QSizeF page = pagePixels();
    const int n = qMax(1, m_pageCount);
    return {int(page.width()) + 2 * kDeskMargin, int(n * (page.height() + kDeskMargin) + kDeskMargin)};
}

void PreviewPages::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QSizeF page = pagePixels();
    const double x0 = qMax<double>(kDeskMargin, (width() - page.width()) / 2);
    for (int i = 0; i < qMax(1, m_pageCount); ++i) {
        const QRectF sheet(x0, kDeskMargin + i * (page.height() + kDeskMargin), page.width(), page.height());
        if (!event->rect().intersects(sheet.toAlignedRect().adjusted(-8, -8, 8, 8)))
            continue;
        m_printer.paintPreview(p, i + 1, sheet, m_buffer.previewOutline, m_buffer.previewRulers);
    }
}

} // namespace gridview_detail
