// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/gridlayout.h"

class GridBuffer;

// The report grid "项目进度及借款质量表": the working rows of t_stat joined to
// the chosen kind-1 scheme, in the scheme's row order. One retrieval argument,
// the scheme code li_fabm. Nothing is written back.
GridLayout d_xmjdzl();

// Installs the row tidying (tidyReportRows) as the grid's retrieve-end handler.
// Every report grid, on screen or in the batch command, is set up this way.
void attachReportTidying(GridBuffer& grid);
