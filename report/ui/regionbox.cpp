// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/ui/regionbox.h"

#include "foundation/host.h"
#include "foundation/sqlca.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

namespace {

// The role of an item's list text: name, the region above, code.
constexpr int kLabelRole = Qt::UserRole + 1;
constexpr int kCodeRole = Qt::UserRole;

// Lists show each item's label; the box itself shows the plain name.
class LabelDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (const QString label = index.data(kLabelRole).toString(); !label.isEmpty())
            option->text = label;
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // Room between the lines, as the list of a plain combo box has.
        return QStyledItemDelegate::sizeHint(option, index) + QSize(8, 6);
    }
};

// The regions whose code starts with the typed text or whose name holds it, in
// the list's own order.
class RegionFilter final : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setTyped(const QString& typed)
    {
        m_typed = typed.trimmed();
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (m_typed.isEmpty())
            return true;
        const QModelIndex item = sourceModel()->index(row, 0, parent);
        return item.data(kCodeRole).toString().startsWith(m_typed) ||
               item.data(Qt::DisplayRole).toString().contains(m_typed, Qt::CaseInsensitive);
    }

private:
    QString m_typed;
};

// Completes to the region's name; the box takes the row itself, so a name
// that two regions bear still yields the code of the one chosen.
class NameCompleter final : public QCompleter
{
public:
    using QCompleter::QCompleter;
    QString pathFromIndex(const QModelIndex& index) const override
    {
        return index.data(Qt::DisplayRole).toString();
    }
};

} // namespace

RegionBox::RegionBox(QWidget* parent) : QComboBox(parent), m_filter(new RegionFilter(this))
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // Enter on a shared name must not jump to the first region of that name.
    setDuplicatesEnabled(true);
    setItemDelegate(new LabelDelegate(this));
    setMaxVisibleItems(20);

    // Typing opens the list of the regions the text leaves, in tree order.
    m_filter->setSourceModel(model());
    auto* finder = new NameCompleter(m_filter, this);
    finder->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    finder->setCaseSensitivity(Qt::CaseInsensitive);
    finder->setMaxVisibleItems(12);
    finder->popup()->setItemDelegate(new LabelDelegate(finder->popup()));
    setCompleter(finder);
    finder->popup()->installEventFilter(this);
    // Filtered before the line edit asks the completer for its list.
    connect(lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& typed) { static_cast<RegionFilter*>(m_filter)->setTyped(typed); });

    connect(lineEdit(), &QLineEdit::editingFinished, this, &RegionBox::modified);
    // The box shows the name only; its tip names the region above and the code.
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { setToolTip(index >= 0 ? itemLabel(index) : QString()); });
}

int RegionBox::loadCodeTable(Sqlca& sqlca, const QString& scope)
{
    QList<QPair<QString, QString>> table;
    QHash<QString, QString> names;
    // The loop ends when the cursor has no more rows, so regions added or
    // removed meanwhile are neither repeated nor dropped.
    Cursor c_qybm(sqlca, QStringLiteral("SELECT qybm, qymc FROM s_qybm"));
    if (!c_qybm.open()) {
        setCodeTable({});
        return -1;
    }
    QVariantList row;
    while (c_qybm.fetch(row)) {
        const QString code = row.value(0).toString().trimmed();
        const QString name = row.value(1).toString().trimmed();
        names.insert(code, name);
        if (regionInScope(scope, code))
            table.append({name, code});
    }
    c_qybm.close();
    const bool failed = sqlca.SQLCode == -1;
    setCodeTable(table, names);
    return failed ? -1 : int(table.size());
}

void RegionBox::setCodeTable(const QList<QPair<QString, QString>>& nameToCode,
                             const QHash<QString, QString>& names)
{
    const QString shown = currentText();
    const QString chosen = currentIndex() >= 0 && itemText(currentIndex()) == shown
                               ? itemData(currentIndex()).toString()
                               : QString();
    // Code order is the tree's order: "4501" < "450121" < "450121101" < "4502".
    // Compared as the codes stand, whatever the database's collation.
    m_table = nameToCode;
    std::stable_sort(m_table.begin(), m_table.end(),
                     [](const auto& a, const auto& b) { return QString::compare(a.second, b.second) < 0; });
    QHash<QString, QString> nameOf = names;
    for (const auto& [name, code] : m_table)
        nameOf.insert(code, name);

    QSignalBlocker block(this);
    clear();
    for (const auto& [name, code] : m_table) {
        // The region above: the longest code that starts this one.
        QString above;
        for (qsizetype n = code.size() - 1; n > 0 && above.isEmpty(); --n)
            above = nameOf.value(code.left(n));
        const QString label = above.isEmpty() ? QStringLiteral("%1 %2").arg(name, code)
                                              : QStringLiteral("%1 · %2 %3").arg(name, above, code);
        addItem(name, code);
        setItemData(count() - 1, label, kLabelRole);
    }
    const int again = chosen.isEmpty() ? -1 : findData(chosen);
    setCurrentIndex(again);
    setEditText(shown);
    // The lists are as wide as their longest label, so no name or code is cut.
    completer()->popup()->setMinimumWidth(widestLabel());
}

int RegionBox::widestLabel() const
{
    const QFontMetrics metrics(view()->font());
    int widest = width();
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(itemLabel(i)) + 40);
    return widest;
}

void RegionBox::showPopup()
{
    view()->setMinimumWidth(widestLabel());
    QComboBox::showPopup();
}

QString RegionBox::itemLabel(int index) const
{
    const QString label = itemData(index, kLabelRole).toString();
    return label.isEmpty() ? itemText(index) : label;
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

bool RegionBox::eventFilter(QObject* watched, QEvent* event)
{
    // The list of a box at the screen's right edge, as wide as its labels,
    // opens leftwards instead of running off the screen.
    // The completer places the list anew at every key typed.
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize) &&
        watched == completer()->popup()) {
        QWidget* list = completer()->popup();
        if (const QScreen* screen = this->screen()) {
            const QRect room = screen->availableGeometry();
            QRect at = list->geometry();
            if (at.right() > room.right())
                at.moveRight(room.right());
            if (at.left() < room.left())
                at.moveLeft(room.left());
            if (at.topLeft() != list->pos())
                list->move(at.topLeft());
        }
    }
    return QComboBox::eventFilter(watched, event);
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
    if (typed.isEmpty())
        return;
    if (number.match(typed).hasMatch()) {
        setText(typed);
        return;
    }
    // Part of a name that leaves one region: that region.
    if (currentIndex() >= 0 && itemText(currentIndex()) == typed)
        return;
    QString only;
    for (const auto& [name, code] : std::as_const(m_table)) {
        if (name == typed)
            return; // a whole name: GetData pairs it
        if (name.contains(typed.trimmed(), Qt::CaseInsensitive)) {
            if (!only.isEmpty())
                return;
            only = code;
        }
    }
    if (!only.isEmpty())
        setText(only);
}
