#include "report/ui/regionbox.h"

#include "foundation/host.h"
#include "foundation/sqlca.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

namespace {

// The list shows each item's label; the box itself shows the plain name.
class LabelDelegate final : public QStyledItemDelegate
{
public:
    explicit LabelDelegate(RegionBox* box) : QStyledItemDelegate(box), m_box(box) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = m_box->itemLabel(index.row());
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // Room between the lines, as the list of a plain combo box has.
        return QStyledItemDelegate::sizeHint(option, index) + QSize(8, 6);
    }

private:
    RegionBox* m_box;
};

} // namespace

RegionBox::RegionBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // Enter on a shared name must not jump to the first region of that name.
    setDuplicatesEnabled(true);
    setItemDelegate(new LabelDelegate(this));
    setMaxVisibleItems(20);
    connect(lineEdit(), &QLineEdit::editingFinished, this, &RegionBox::modified);
    // The box shows the name only; its tip names the region above and the code.
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { setToolTip(index >= 0 ? itemLabel(index) : QString()); });
}

int RegionBox::loadCodeTable(Sqlca& sqlca, const QString& scope)
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
    while (c_qybm.fetch(row)) {
        const QString code = row.value(0).toString().trimmed();
        if (regionInScope(scope, code))
            table.append({row.value(1).toString().trimmed(), code});
    }
    c_qybm.close();
    const bool failed = sqlca.SQLCode == -1;
    setCodeTable(table);
    return failed ? -1 : int(table.size());
}

void RegionBox::setCodeTable(const QList<QPair<QString, QString>>& nameToCode)
{
    const QString shown = currentText();
    const QString chosen = currentIndex() >= 0 && itemText(currentIndex()) == shown
                               ? itemData(currentIndex()).toString()
                               : QString();
    m_table = nameToCode;
    QHash<QString, int> bearers;
    QHash<QString, QString> nameOf;
    for (const auto& [name, code] : m_table) {
        ++bearers[name];
        nameOf.insert(code, name);
    }
    m_labels.clear();
    for (const auto& [name, code] : m_table) {
        if (bearers.value(name) < 2) {
            m_labels << name;
            continue;
        }
        // The region above: the longest code in the table that starts this one.
        QString above;
        for (qsizetype n = code.size() - 1; n > 0 && above.isEmpty(); --n)
            above = nameOf.value(code.left(n));
        m_labels << (above.isEmpty() ? QStringLiteral("%1（%2）").arg(name, code)
                                     : QStringLiteral("%1（%2 %3）").arg(name, above, code));
    }
    QSignalBlocker block(this);
    clear();
    for (const auto& [name, code] : m_table)
        addItem(name, code);
    const int again = chosen.isEmpty() ? -1 : findData(chosen);
    setCurrentIndex(again);
    setEditText(shown);
}

void RegionBox::showPopup()
{
    // The list is as wide as its longest label, so no name or code is cut.
    const QFontMetrics metrics(view()->font());
    int widest = width();
    for (const QString& label : std::as_const(m_labels))
        widest = std::max(widest, metrics.horizontalAdvance(label) + 40);
    view()->setMinimumWidth(widest);
    QComboBox::showPopup();
}

QString RegionBox::itemLabel(int index) const
{
    return index >= 0 && index < m_labels.size() ? m_labels.at(index) : itemText(index);
}

QString RegionBox::GetData() const
{
    const QString shown = currentText();
    // The item chosen from the list, by a code or through the picker.
    if (currentIndex() >= 0 && itemText(currentIndex()) == shown)
        return itemData(currentIndex()).toString();
    // A name typed by hand.
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
    // The item of that code, not the first item of its name.
    const int index = text.trimmed().isEmpty() ? -1 : findData(text.trimmed());
    if (index >= 0) {
        QSignalBlocker block(this);
        setCurrentIndex(index);
        setEditText(itemText(index));
        setToolTip(itemLabel(index));
        return;
    }
    QSignalBlocker block(this);
    setCurrentIndex(-1);
    setEditText(text);
    setToolTip(QString());
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
