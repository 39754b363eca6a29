#pragma once

#include <QComboBox>
#include <QList>
#include <QPair>

class Sqlca;

// The region box: shows a region's name and yields its code. Its code table
// pairs names with codes; setting its text to a code shows the paired name,
// and a code typed by hand turns into the region's name when the user leaves
// the box. The whole text is selected when the box gets the focus.
class RegionBox final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RegionBox)

public:
    explicit RegionBox(QWidget* parent = nullptr);

    // Builds the code table from s_qybm (names and codes trimmed) and returns
    // the number of regions read; -1 when the query failed (the table stays empty).
    int loadCodeTable(Sqlca& sqlca);
    void setCodeTable(const QList<QPair<QString, QString>>& nameToCode);
    const QList<QPair<QString, QString>>& codeTable() const { return m_table; }

    // The code paired with the shown name; the shown text itself when it pairs with nothing.
    QString GetData() const;
    // A code shows as its paired name; any other text is shown as it is.
    void setText(const QString& text);
    QString text() const { return currentText(); }
    void SelectText();

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    void modified();

    QList<QPair<QString, QString>> m_table; // name, code
};
