// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QHash>
#include <QList>
#include <QPair>

class QSortFilterProxyModel;
class Sqlca;

// The region box: shows a region's name and yields its code. Its code table
// pairs names with codes; setting its text to a code shows the paired name,
// and a code typed by hand turns into the region's name when the user leaves
// the box. The whole text is selected when the box gets the focus.
//
// Its list keeps the tree's order (a region's code starts with the code of the
// region above it, so code order puts every region under the one above) and
// shows each region as "白沙镇 · 云溪县 450121101": the name, the region above
// and the code, so regions of one name (villages of different towns) are told
// apart; the box yields the code of the one chosen, not of the first of that
// name. Typing opens the list filtered to the regions whose code starts with
// the typed text or whose name holds it; a name typed in part that leaves one
// region chooses it when the user leaves the box.
class RegionBox final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RegionBox)

public:
    explicit RegionBox(QWidget* parent = nullptr);

    // Builds the code table from s_qybm (names and codes trimmed) and returns
    // the number of regions read; -1 when the query failed (the table stays empty).
    // With a scope (the user's region on a shared database) only that region
    // and the regions below it.
    int loadCodeTable(Sqlca& sqlca, const QString& scope = QString());
    // `names` (code to name) may name regions outside the table, for the
    // region above a region of the table; the table's own names serve otherwise.
    void setCodeTable(const QList<QPair<QString, QString>>& nameToCode,
                      const QHash<QString, QString>& names = {});
    // Name and code of every region, in the list's order.
    const QList<QPair<QString, QString>>& codeTable() const { return m_table; }

    // The code of the region chosen (list item, code or picker); for a name typed
    // by hand the code paired with it; the shown text itself when it pairs with nothing.
    QString GetData() const;
    // What the list shows for item `index`: name, the region above and the code.
    QString itemLabel(int index) const;
    // A code shows as its paired name; any other text is shown as it is.
    void setText(const QString& text);
    QString text() const { return currentText(); }
    void SelectText();

    void showPopup() override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void modified();
    int widestLabel() const;

    QList<QPair<QString, QString>> m_table; // name, code
    QSortFilterProxyModel* m_filter;        // the regions that the typed text leaves
};
