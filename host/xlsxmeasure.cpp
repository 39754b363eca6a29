// SPDX-License-Identifier: GPL-3.0-or-later
// Text widths in a spreadsheet's columns.
#include "host/xlsxmeasure.h"

#include "foundation/fonts.h"
#include "foundation/gridprint.h"

#include <QFont>
#include <QImage>
#include <algorithm>

namespace {

// Column widths are in the spreadsheet's character units: the width of a digit
// of the workbook's default font (Calibri 11), 7 pixels at 96 dpi.
constexpr double kPixelsPerUnit = 7;
constexpr double kCellPaddingPixels = 14; // both sides of a cell and the grid line

// Text widths are measured on a 96 dpi device, the resolution the spreadsheet
// lays its columns out at.
const QPaintDevice* screenDevice()
{
    static const QImage image = measuringImage(96);
    return &image;
}

} // namespace

double TextMeasure::pixels(const QString& text, const QString& family, double points, bool bold)
{
    const QString key = QStringLiteral("%1|%2|%3").arg(family).arg(points).arg(bold);
    auto it = m_metrics.find(key);
    if (it == m_metrics.end()) {
        static const bool substituted = [] {
            installFontSubstitutions();
            return true;
        }();
        Q_UNUSED(substituted);
        QList<QFontMetricsF> faces;
        for (const QString& faceName : {family, QStringLiteral("DejaVu Sans")}) {
            QFont font(faceName);
            font.setPointSizeF(points);
            font.setBold(bold);
            faces << QFontMetricsF(font, screenDevice());
        }
        it = m_metrics.insert(key, faces);
    }
    double widest = 0;
    for (const QFontMetricsF& fm : std::as_const(it.value()))
        for (const QString& line : text.split(u'\n'))
            widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

double unitsFor(double pixels)
{
    return (pixels + kCellPaddingPixels) / kPixelsPerUnit;
}

double pixelsFor(double units)
{
    return units * kPixelsPerUnit - kCellPaddingPixels;
}
