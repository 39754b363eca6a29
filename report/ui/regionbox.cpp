#include "report/ui/regionbox.h"

#include "foundation/sqlca.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>

RegionBox::RegionBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(20);
    connect(lineEdit(), &QLineEdit::editingFinished, this, &RegionBox::modified);
}

int RegionBox::loadCodeTable(Sqlca& sqlca)
{
    QList<QPair<QString, QString>> table;
    // The loop ends when the cursor has no more rows, so regions added or
    // removed meanwhile are neither repeated nor dropped.
    Cursor c_qybm(sqlca, QStringLiteral("SELECT qybm, qymc FROM s_qybm ORDER BY qybm"));
    if (!c_qybm.open()) {
        setCodeTable({});
        return -1;
    }
    QVariantList row;
    while (c_qybm.fetch(row))
        table.append({row.value(1).toString().trimmed(), row.value(0).toString().trimmed()});
    c_qybm.close();
    const bool failed = sqlca.SQLCode == -1;
    setCodeTable(table);
    return failed ? -1 : int(table.size());
}

void RegionBox::setCodeTable(const QList<QPair<QString, QString>>& nameToCode)
{
    const QString shown = currentText();
    m_table = nameToCode;
    QSignalBlocker block(this);
    clear();
    for (const auto& [name, code] : m_table)
        addItem(name, code);
    setEditText(shown);
}

QString RegionBox::GetData() const
{
    const QString shown = currentText();
    for (const auto& [name, code] : m_table)
        if (name == shown)
            return code;
    // A code the table holds, typed and not yet turned into a name.
    for (const auto& [name, code] : m_table)
        if (code == shown.trimmed())
            return code;
    return shown;
}

void RegionBox::setText(const QString& text)
{
    for (const auto& [name, code] : m_table) {
        if (code == text.trimmed() && !text.trimmed().isEmpty()) {
            const int index = findText(name, Qt::MatchExactly);
            QSignalBlocker block(this);
            if (index >= 0)
                setCurrentIndex(index);
            setEditText(name);
            return;
        }
    }
    QSignalBlocker block(this);
    setCurrentIndex(-1);
    setEditText(text);
}

void RegionBox::SelectText()
{
    lineEdit()->selectAll();
}

void RegionBox::focusInEvent(QFocusEvent* event)
{
    QComboBox::focusInEvent(event);
    // After the line edit has placed its cursor.
    QTimer::singleShot(0, this, &RegionBox::SelectText);
}

void RegionBox::modified()
{
    // A code typed by hand (digits, with an optional sign or decimal point)
    // is looked up again so the box shows the region's name.
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?\\d+(\\.\\d*)?\\s*$"));
    const QString typed = currentText();
    if (!typed.isEmpty() && number.match(typed).hasMatch())
        setText(typed);
}
