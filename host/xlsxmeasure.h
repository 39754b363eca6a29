// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How wide texts are in a spreadsheet's columns: text widths measured in the
// sheet's fonts at the resolution the spreadsheet lays columns out at, and
// the spreadsheet's own width units.

#include <QFontMetricsF>
#include <QHash>
#include <QList>
#include <QString>

// The width in pixels of the widest line of a text in a named font. The face
// the name maps to here may be narrower than the one the reader has (or the
// spreadsheet substitutes), so the width is also taken in a broad face and the
// wider one counts: CJK characters are one em in every face, Latin digits and
// letters differ. Metrics are made once per font: a sheet measures every cell.
class TextMeasure final
{
public:
    double pixels(const QString& text, const QString& family, double points, bool bold);

private:
    QHash<QString, QList<QFontMetricsF>> m_metrics;
};

// A column's width in the spreadsheet's units for a text of so many pixels, and back.
double unitsFor(double pixels);
double pixelsFor(double units);
