// SPDX-License-Identifier: GPL-3.0-or-later
// What the month charts draw each series with, and their legend under the
// plot: shared by the chart on the screen, in the pictures and on paper.
#pragma once

#include "analysis/ui/trendchart.h"
#include "host/chartbook.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QGraphicsObject>
#include <QList>
#include <QPen>
#include <QRectF>
#include <QSizeF>
#include <QStringList>

class QChart;

QColor colourOf(const SeriesLook& look);
Qt::PenStyle penStyleOf(SeriesLook::Stroke stroke);
// A bar's fill: the colour, hatched past the first ten (as the workbook's patterns).
QBrush barBrush(const SeriesLook& look);
QPen linePen(const SeriesLook& look, const ChartLook& chartLook);

// The legend of a month chart: every indicator, in rows under the plot, as
// many to a row as the chart's width takes (each column as wide as its
// longest name), so none is cut off however many there are; a long list is
// set a little smaller before it takes more than two fifths of the chart. The
// chart leaves room for it below and lays it out again when its size changes.
class LegendItem final : public QGraphicsObject
{
public:
    struct Entry
    {
        QString name;
        SeriesLook look;
    };

    LegendItem(QChart* chart, QList<Entry> entries, const QFont& font, bool bars, const ChartLook& look);

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), m_size); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    // Where each entry stands, in the chart's coordinates.
    QList<QPair<QString, QRectF>> entries() const;

private:
    struct Layout
    {
        QList<QRectF> rects;
        QStringList names;
        QSizeF size;
    };

    // The entries in the font `font` across `width`: the most columns that fit.
    Layout arrange(const QFont& font, qreal width) const;
    // Lays the entries out across the chart's width and keeps room for them under the plot.
    void follow();

    QChart* m_chart;
    QList<Entry> m_entries;
    QFont m_font;
    QFont m_drawn; // m_font, or smaller for a long list
    bool m_bars;
    ChartLook m_look;
    qreal m_sample = 0;
    qreal m_gap = 0;
    QList<QRectF> m_rects;
    QStringList m_names;
    QSizeF m_size;
};
