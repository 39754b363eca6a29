#pragma once

#include "foundation/gridlayout.h"

class GridBuffer;

// The catalogue grid "禾岚统计指标": code, type, name and description of every
// indicator of s_zbbm, in the order the database returns them; all four
// editable and written back by the code as read.
GridLayout d_guideline();

// Why the rows cannot be saved as they stand: a code left empty or a code
// given to two rows, in words that name the rows. Empty when they can.
QString guidelineCodeProblem(const GridBuffer& grid);

// Installs that check before every update of the grid, so a save says what is
// wrong with the codes instead of the database's key violation.
void attachGuidelineChecks(GridBuffer& grid);
