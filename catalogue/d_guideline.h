// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/gridlayout.h"

#include <functional>

class GridBuffer;

// The catalogue grid "禾岚统计指标": code, type, name and description of every
// indicator of s_zbbm, in the order the database returns them; all four
// editable and written back by the code as read.
GridLayout d_guideline();

// Why the rows cannot be saved as they stand: a code left empty or a code
// given to two rows, in words that name the rows. Empty when they can.
QString guidelineCodeProblem(const GridBuffer& grid);

// Installs the checks of a save on the grid: the codes as above, then the
// refusal of a code change that would lose a used indicator (zbbm::
// codeChangeRefusal), so a save says what is wrong instead of writing it.
// When the save renames indicators that schemes hold, `namesFollow` is asked
// once before anything is written: true rewrites the schemes' copies of type,
// name and description in the save's own transaction, false (or no question)
// leaves them as they are.
void attachGuidelineChecks(GridBuffer& grid, std::function<bool()> namesFollow = {});
