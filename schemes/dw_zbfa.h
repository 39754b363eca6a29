// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/gridlayout.h"

// The scheme grid: the rows of one scheme (code li_fabm, kind li_falx) joined to
// the catalogue, in row order. Written back to s_zbfa by the key zbbm + hh as
// read, and only to rows of the same kind and code, so a save never reaches a
// row of another scheme. The grid never inserts or deletes rows.
GridLayout dw_zbfa();
