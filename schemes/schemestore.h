// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QStringList>
#include <functional>
#include <optional>

class GridBuffer;
class Sqlca;

// The scheme editor's statements on s_zbfa, without windows. A scheme is the set
// of rows sharing a kind (falx) and a code (fabm); the screens find a code by
// its name. Every command that writes runs as one transaction and commits or
// rolls back before it returns; a failure leaves its text in sqlca.
namespace zbfa {

// The distinct scheme names of a kind, in the order the database gives the groups.
QStringList names(Sqlca& sqlca, int falx);

// The scheme look-up: the code of the scheme with this name (untrimmed) and kind,
// 0 when there is none. The status of sqlca says 0 found, 100 no such scheme,
// -1 failed (also when the name stands for several codes).
int lookUp(Sqlca& sqlca, const QString& famc, int falx);

// Whether the scheme of this name carries the kind's default mark (false when
// the look-up fails).
bool isDefault(Sqlca& sqlca, const QString& famc, int falx);

// The number of rows the kind holds, 0 when the count fails.
int kindRows(Sqlca& sqlca, int falx);

// The default name of a new scheme: "方案" followed by its code.
QString defaultName(int fabm);

struct Added
{
    int fabm = 0;
    QString famc;
};

// Adds a scheme to the kind: the kind's highest code + 1, named defaultName(),
// holding every catalogue indicator in the catalogue's order with row orders
// 10, 20, 30, ..., all selected. The code is read and the rows inserted under
// one lock of the kind, so adds on two connections never share a code; on
// failure nothing is left and the error is in sqlca. `afterCodeRead` (tests)
// runs with the new code while the lock is held.
std::optional<Added> add(Sqlca& sqlca, int falx, const std::function<void(int fabm)>& afterCodeRead = {});

// Appends to a scheme the catalogue indicators it lacks, when it has fewer rows
// than the catalogue has indicators: unselected, no default mark, row orders
// after its last one, ten apart. Committed before it returns; the number of
// rows added, or -1 (error in sqlca).
int topUp(Sqlca& sqlca, int falx, int fabm, const QString& famc);

// Deletes the rows of a scheme, committed.
Status remove(Sqlca& sqlca, int falx, int fabm);

// Makes the scheme of this name the only default of its kind: clearing the
// kind's mark and setting it on the scheme's rows are one transaction.
Status makeDefault(Sqlca& sqlca, int falx, const QString& famc);

// Saves the scheme on the grid under `famc`: names every row of the grid (the
// ones a filter hides too) and every stored row of the scheme, writes the
// grid's changes and commits. A name that another scheme of the kind carries
// is refused. On failure nothing is written and the grid keeps its edits.
Status save(Sqlca& sqlca, GridBuffer& grid, int falx, const QString& famc);

} // namespace zbfa
