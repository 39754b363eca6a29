#pragma once

#include <QComboBox>
#include <QList>
#include <QPair>

class Sqlca;

// The region box: shows a region's name and yields its code. Its code table
// pairs names with codes; setting its text to a code shows the paired name,
// and a code typed by hand turns into the region's name when the user leaves
// the box. The whole text is selected when the box gets the focus. Regions
// of one name (villages of different towns) are told apart in the list by the
// region above them and their code, and the box yields the code of the one
// chosen, not of the first of that name.
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
    void setCodeTable(const QList<QPair<QString, QString>>& nameToCode);
    const QList<QPair<QString, QString>>& codeTable() const { return m_table; }

    // The code of the region chosen (list item, code or picker); for a name typed
    // by hand the code paired with it; the shown text itself when it pairs with nothing.
    QString GetData() const;
    // What the list shows for item `index`: the name, and for a name that more
    // than one region bears, the region above it and the code.
    QString itemLabel(int index) const;
    // A code shows as its paired name; any other text is shown as it is.
    void setText(const QString& text);
    QString text() const { return currentText(); }
    void SelectText();

    void showPopup() override;

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    void modified();

    QList<QPair<QString, QString>> m_table; // name, code
    QStringList m_labels;                   // list texts, one per item
};
