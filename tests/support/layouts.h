// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Grid layouts for the tests. Where a test shows one of the program's own grids
// it takes the program's layout as it is (d_guideline(), dw_zbfa(), d_xmjdzl()),
// so it cannot drift from it; what a test needs beyond it is built here, on top
// of the real layout.

#include "foundation/gridlayout.h"

// The catalogue's grid d_guideline with its rows in code order and one more
// column: the percentage flag flag2 (百分比) as a check box. The grid runtime
// tests edit, print and tab through a check box column, which the catalogue
// itself does not show.
GridLayout catalogueWithCheckBoxes();
