// SPDX-License-Identifier: GPL-3.0-or-later
// The month charts' series looks and their legend under the plot.
#include "analysis/ui/chartlegend_p.h"

#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QPainter>
#include <algorithm>
#include <cmath>

QColor colourOf(const SeriesLook& look)
{
    return QColor::fromRgb(QRgb(look.rgb));
}

Qt::PenStyle penStyleOf(SeriesLook::Stroke stroke)
{
    switch (stroke) {
    case SeriesLook::Solid:
        break;
    case SeriesLook::Dashed:
        return Qt::DashLine;
    case SeriesLook::Dotted:
        return Qt::DotLine;
    case SeriesLook::DashDot:
        return Qt::DashDotLine;
    case SeriesLook::DashDotDot:
        return Qt::DashDotDotLine;
    }
    return Qt::SolidLine;
}

QBrush barBrush(const SeriesLook& look)
{
    switch (look.stroke) {
    case SeriesLook::Solid:
        break;
    case SeriesLook::Dashed:
        return QBrush(colourOf(look), Qt::BDiagPattern);
    case SeriesLook::Dotted:
        return QBrush(colourOf(look), Qt::FDiagPattern);
    case SeriesLook::DashDot:
        return QBrush(colourOf(look), Qt::CrossPattern);
    case SeriesLook::DashDotDot:
        return QBrush(colourOf(look), Qt::Dense4Pattern);
    }
    return QBrush(colourOf(look));
}

QPen linePen(const SeriesLook& look, const ChartLook& chartLook)
{
    QPen pen(colourOf(look));
    pen.setStyle(penStyleOf(look.stroke));
    pen.setWidthF(chartLook.labelPixels / 6.0);
    return pen;
}

LegendItem::LegendItem(QChart* chart, QList<Entry> entries, const QFont& font, bool bars,
                       const ChartLook& look)
    : QGraphicsObject(chart), m_chart(chart), m_entries(std::move(entries)), m_font(font), m_bars(bars),
      m_look(look)
{
    QObject::connect(chart, &QGraphicsWidget::geometryChanged, this, &LegendItem::follow);
}

void LegendItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setFont(m_drawn);
    ChartLook look = m_look;
    look.labelPixels = m_drawn.pixelSize();
    for (int i = 0; i < m_entries.size() && i < m_rects.size(); ++i) {
        const QRectF r = m_rects[i];
        const SeriesLook& style = m_entries[i].look;
        const QRectF sample(r.left(), r.top(), m_sample, r.height());
        if (m_bars) {
            const qreal side = r.height() * 0.55;
            const QRectF box(sample.left() + (sample.width() - side * 1.6) / 2,
                             sample.center().y() - side / 2, side * 1.6, side);
            painter->fillRect(box, Qt::white);
            painter->fillRect(box, barBrush(style));
            painter->setPen(QPen(colourOf(style), 1));
            painter->drawRect(box);
        } else {
            painter->setPen(linePen(style, look));
            painter->drawLine(QPointF(sample.left(), sample.center().y()),
                              QPointF(sample.right(), sample.center().y()));
            painter->setPen(Qt::NoPen);
            painter->setBrush(colourOf(style));
            const qreal dot = look.labelPixels / 4.0;
            painter->drawEllipse(sample.center(), dot, dot);
        }
        painter->setPen(Qt::black);
        painter->drawText(QRectF(sample.right() + m_gap, r.top(), r.width() - m_sample - m_gap, r.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, m_names[i]);
    }
    painter->restore();
}

QList<QPair<QString, QRectF>> LegendItem::entries() const
{
    QList<QPair<QString, QRectF>> out;
    for (int i = 0; i < m_entries.size() && i < m_rects.size(); ++i)
        out.append({m_entries[i].name, m_rects[i].translated(pos())});
    return out;
}

LegendItem::Layout LegendItem::arrange(const QFont& font, qreal width) const
{
    const QFontMetricsF fm(font);
    const qreal pixels = font.pixelSize();
    const qreal sample = pixels * 2.6;
    const qreal gap = pixels * 0.4;
    const qreal spacing = pixels * 1.2;
    const qreal lineHeight = fm.height() * 1.35;
    const int n = int(m_entries.size());
    QList<qreal> widths;
    for (const Entry& e : m_entries)
        widths << sample + gap + fm.horizontalAdvance(e.name) + 1;
    int columns = 1;
    QList<qreal> columnWidths;
    for (int c = std::max(1, n); c >= 1; --c) {
        QList<qreal> w(c, 0);
        for (int i = 0; i < n; ++i)
            w[i % c] = std::max(w[i % c], widths[i]);
        qreal total = (c - 1) * spacing;
        for (qreal x : w)
            total += x;
        columns = c;
        columnWidths = w;
        if (total <= width)
            break;
    }
    // One column still too wide: its names are shortened, none is left out.
    if (columns == 1 && !columnWidths.isEmpty())
        columnWidths[0] = std::min(columnWidths[0], width);
    Layout out;
    QList<qreal> lefts;
    qreal x = 0;
    for (qreal w : columnWidths) {
        lefts << x;
        x += w + spacing;
    }
    for (int i = 0; i < n; ++i) {
        const int c = i % columns;
        out.rects << QRectF(lefts[c], (i / columns) * lineHeight, columnWidths[c], lineHeight);
        out.names << fm.elidedText(m_entries[i].name, Qt::ElideMiddle, columnWidths[c] - sample - gap);
    }
    const int rows = (n + columns - 1) / columns;
    out.size = QSizeF(std::max<qreal>(0, x - spacing), rows * lineHeight);
    return out;
}

void LegendItem::follow()
{
    // Within the chart's background, which its layout sets inside the chart's frame.
    qreal left = 0;
    qreal top = 0;
    qreal right = 0;
    qreal bottom = 0;
    if (QGraphicsLayout* layout = m_chart->layout())
        layout->getContentsMargins(&left, &top, &right, &bottom);
    const qreal margin = 2;
    const qreal width = std::max<qreal>(40, m_chart->size().width() - left - right - 2 * margin);
    const qreal room = (m_chart->size().height() - top - bottom) * 0.4;
    Layout chosen;
    for (const qreal scale : {1.0, 0.85, 0.75}) {
        m_drawn = m_font;
        m_drawn.setPixelSize(std::max(6, int(std::lround(m_font.pixelSize() * scale))));
        chosen = arrange(m_drawn, width);
        if (chosen.size.height() <= room)
            break;
    }
    m_sample = m_drawn.pixelSize() * 2.6;
    m_gap = m_drawn.pixelSize() * 0.4;
    prepareGeometryChange();
    m_rects = chosen.rects;
    m_names = chosen.names;
    m_size = chosen.size;
    setPos(left + margin + std::max<qreal>(0, (width - m_size.width()) / 2),
           m_chart->size().height() - bottom - margin - m_size.height());
    const QMargins kept = m_chart->margins();
    m_chart->setMargins(QMargins(kept.left(), kept.top(), kept.right(), int(std::ceil(m_size.height())) + 4));
    // Laid out now, not at the next turn of the event loop: a picture or a
    // page is painted at once.
    if (QGraphicsLayout* layout = m_chart->layout())
        layout->activate();
    update();
}
