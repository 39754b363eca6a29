// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QStringList>
#include <QVariantList>
#include <optional>

class GridBuffer;
class Sqlca;

// What a save of the catalogue grid means for the rest of the database: the
// schemes (s_zbfa) and the figures (H_stat) find an indicator by its code and
// keep their own copy of its type, name and description.
namespace zbbm {

// Why the changed rows of the catalogue grid must not be written: an indicator
// whose code they change while a scheme row or a figure still names the old
// code (the indicator would drop out of every report), named with the schemes
// and the figures that use it. The database's text when the check itself
// failed; empty when every code change is safe. A code nothing uses may change.
QString codeChangeRefusal(Sqlca& sqlca, const GridBuffer& grid);

// An indicator whose type, name or description a save changes, with the new
// texts of the changed columns (zblx, zbmc, zbms).
struct Renamed
{
    QString code;
    QStringList columns;
    QVariantList values;
};

// The indicators the grid's changed rows rename that schemes hold a copy of;
// nullopt when the look-up failed (the error is in sqlca).
std::optional<QList<Renamed>> renamedInSchemes(Sqlca& sqlca, const GridBuffer& grid);

// Writes the new texts into the copies every scheme holds. Runs inside the
// caller's transaction; false with the error in sqlca.
bool copyIntoSchemes(Sqlca& sqlca, const QList<Renamed>& renamed);

// "2025年1月" for 202501; the text itself when it is no period.
QString periodName(const QString& kjqj);

} // namespace zbbm
