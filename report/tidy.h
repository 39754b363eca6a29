// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class GridBuffer;

// The report grid's retrieve-end pass: figures equal to zero (as decimals, so
// 0 and 0.00 alike) become null and show blank; a type label is kept only on
// the first row of a run of equal trimmed labels (case-sensitive; a null label
// breaks the run). Touches the row buffer only; redraw is off during the pass
// and untouched when there are no rows.
void tidyReportRows(GridBuffer& grid);
