// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/gridbuffer.h"

#include "foundation/sqlca.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>

struct GridBuffer::Row
{
    QVariantList values;
    QVariantList original; // as read, or as last written by Update
    bool modified = false;
};

// "col = N" or "col = 'text'": the only conditions the screens filter by.
struct GridBuffer::FilterRule
{
    int column = -1;
    std::optional<Decimal> number;
    QString text;
};

struct GridBuffer::SortKey
{
    int column = -1;
    bool descending = false;
};

namespace {

const QRegularExpression& filterPattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)\s*=\s*(?:'([^']*)'|([+-]?\d+(?:\.\d+)?))\s*$)"));
    return re;
}

// A value as plain text: decimals in their shortest exact form, null empty.
QString valueText(const QVariant& v)
{
    if (v.isNull())
        return {};
    if (v.metaType() == QMetaType::fromType<Decimal>())
        return v.value<Decimal>().toPlainString();
    return v.toString();
}

// -1, 0, 1 with null before every value, as a grid sorts.
int compareValues(ColumnType type, const QVariant& a, const QVariant& b)
{
    const bool an = a.isNull();
    const bool bn = b.isNull();
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    if (type == ColumnType::Text) {
        const int c = a.toString().compare(b.toString());
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    const auto x = Decimal::fromVariant(a);
    const auto y = Decimal::fromVariant(b);
    if (!x || !y)
        return x ? 1 : (y ? -1 : 0);
    return *x < *y ? -1 : (*y < *x ? 1 : 0);
}

} // namespace

GridBuffer::GridBuffer(GridLayout layout, QObject* parent)
    : QObject(parent), orientation(layout.orientation), m_layout(std::move(layout))
{}

GridBuffer::~GridBuffer() = default;

// ---------------------------------------------------------------- rows

GridBuffer::RowPtr GridBuffer::shownRow(long row) const
{
    if (row < 1 || row > m_shown.size())
        return nullptr;
    return m_shown[row - 1];
}

long GridBuffer::shownPosition(const RowPtr& row) const
{
    const qsizetype i = m_shown.indexOf(row);
    return i < 0 ? 0 : long(i + 1);
}

QString GridBuffer::describeRow(const RowPtr& row) const
{
    QStringList keys;
    for (const QString& name : std::as_const(m_layout.keyColumns)) {
        const int c = m_layout.columnIndex(name);
        if (c < 0)
            continue;
        const GridColumn& col = m_layout.columns[c];
        keys << QStringLiteral("%1“%2”").arg(col.header.isEmpty() ? col.name : col.header,
                                             valueText(row->original[c]));
    }
    const QString key = keys.join(QStringLiteral("、"));
    if (const long pos = shownPosition(row); pos > 0)
        return key.isEmpty() ? QStringLiteral("第%1行").arg(pos)
                             : QStringLiteral("第%1行（%2）").arg(pos).arg(key);
    return QStringLiteral("%1的行").arg(key);
}

long GridBuffer::RowCount() const
{
    return long(m_shown.size());
}

QVariant GridBuffer::GetItem(long row, const QString& column) const
{
    const RowPtr r = shownRow(row);
    const int c = m_layout.columnIndex(column);
    if (!r || c < 0)
        return {};
    return r->values[c];
}

QVariant GridBuffer::GetItemOriginal(long row, const QString& column) const
{
    const RowPtr r = shownRow(row);
    const int c = m_layout.columnIndex(column);
    if (!r || c < 0)
        return {};
    return r->original[c];
}

QString GridBuffer::GetItemString(long row, const QString& column) const
{
    return valueText(GetItem(row, column));
}

std::optional<Decimal> GridBuffer::GetItemDecimal(long row, const QString& column) const
{
    return Decimal::fromVariant(GetItem(row, column));
}

QVariantList GridBuffer::Primary(long row) const
{
    const RowPtr r = shownRow(row);
    return r ? r->values : QVariantList{};
}

bool GridBuffer::IsRowModified(long row) const
{
    const RowPtr r = shownRow(row);
    return r && r->modified;
}

long GridBuffer::ModifiedCount() const
{
    return long(std::count_if(m_rows.begin(), m_rows.end(), [](const RowPtr& r) { return r->modified; }));
}

// ---------------------------------------------------------------- values

std::optional<QVariant> GridBuffer::coerce(int column, const QVariant& value) const
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    // A null QString is how the C++ side writes a null string.
    if (value.metaType().id() == QMetaType::QString && value.toString().isNull())
        return QVariant();
    const bool isDecimal = value.metaType() == QMetaType::fromType<Decimal>();
    const ColumnType type = m_layout.columns[column].type;
    if (type == ColumnType::Text)
        return QVariant(isDecimal ? value.value<Decimal>().toPlainString() : value.toString());

    std::optional<Decimal> d;
    if (value.metaType().id() == QMetaType::Bool)
        d = Decimal::fromInt(value.toBool() ? 1 : 0);
    else if (value.metaType().id() == QMetaType::QString && value.toString().trimmed().isEmpty())
        return QVariant(); // an emptied figure cell is null
    else
        d = Decimal::fromVariant(value);
    if (!d)
        return std::nullopt;
    const bool whole = d->units() % Decimal::One == 0;
    switch (type) {
    case ColumnType::Integer:
        if (!whole)
            return std::nullopt;
        return QVariant(qlonglong(d->units() / Decimal::One));
    case ColumnType::Number:
        if (whole)
            return QVariant(qlonglong(d->units() / Decimal::One));
        return QVariant::fromValue(*d);
    case ColumnType::Decimal:
    case ColumnType::Text:
        break;
    }
    return QVariant::fromValue(*d);
}

bool GridBuffer::sameValue(int column, const QVariant& a, const QVariant& b) const
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    return compareValues(m_layout.columns[column].type, a, b) == 0 &&
           (m_layout.columns[column].type != ColumnType::Text || a.toString() == b.toString());
}

int GridBuffer::store(const RowPtr& row, int column, const QVariant& value)
{
    row->values[column] = value;
    bool modified = false;
    for (int c = 0; c < row->values.size() && !modified; ++c)
        modified = !sameValue(c, row->values[c], row->original[c]);
    row->modified = modified;
    notifyItem(row, column);
    return 1;
}

int GridBuffer::SetItem(long row, const QString& column, const QVariant& value)
{
    const RowPtr r = shownRow(row);
    const int c = m_layout.columnIndex(column);
    if (!r || c < 0)
        return -1;
    const auto v = coerce(c, value);
    if (!v)
        return -1;
    return store(r, c, *v);
}

int GridBuffer::SetText(long row, const QString& column, const QVariant& value)
{
    // Hold the row itself: the handler may sort, filter or even reset the rows.
    const RowPtr r = shownRow(row);
    const int c = m_layout.columnIndex(column);
    if (!r || c < 0)
        return -1;
    const auto v = coerce(c, value);
    if (!v)
        return -1;
    if (itemChanged && !itemChanged(row, m_layout.columns[c].name, r->values[c], *v))
        return 0;
    if (!m_rows.contains(r))
        return 0; // the handler dropped the rows; there is nothing left to store into
    return store(r, c, *v);
}

int GridBuffer::AcceptText()
{
    if (acceptTextHandler && !acceptTextHandler())
        return -1;
    return 1;
}

QString GridBuffer::refusal(long row, const QString& column, const QVariant& value) const
{
    const int c = m_layout.columnIndex(column);
    if (c < 0 || coerce(c, value))
        return {};
    const GridColumn& col = m_layout.columns[c];
    const QString what = col.type == ColumnType::Integer ? QStringLiteral("整数") : QStringLiteral("数字");
    return QStringLiteral("第%1行“%2”：“%3”不是%4，这一格只能填%4，请改正。")
        .arg(row)
        .arg(col.header.isEmpty() ? col.name : col.header, valueText(value), what);
}

// ---------------------------------------------------------------- retrieve

long GridBuffer::Retrieve(const QVariantList& args)
{
    if (retrieveStart)
        retrieveStart();
    m_rows.clear();
    m_shown.clear();
    if (!m_sqlca) {
        notifyRows();
        return -1;
    }
    QSqlQuery* kept = m_sqlca->runKept(m_layout.queryFor(m_sqlca->dialect()), args);
    if (!kept) {
        notifyRows(); // a failing query leaves the grid empty
        return -1;
    }
    QSqlQuery& q = *kept;
    const Sqlca::Fetching reading(*m_sqlca);
    const auto done = qScopeGuard([&] { q.finish(); });
    const int columns = int(m_layout.columns.size());
    if (q.record().count() < columns) {
        m_sqlca->setError(QStringLiteral("the query of %1 gives %2 columns, the layout has %3")
                              .arg(m_layout.name)
                              .arg(q.record().count())
                              .arg(columns));
        notifyRows();
        return -1;
    }
    while (q.next()) {
        auto row = std::make_shared<Row>();
        row->values.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            const QVariant raw = q.value(c);
            // A stored value the column type cannot hold is kept as read rather than lost.
            row->values << coerce(c, raw).value_or(raw);
        }
        row->original = row->values;
        m_rows << row;
    }
    if (q.lastError().isValid()) {
        m_sqlca->setError(q.lastError().text());
        m_rows.clear();
        notifyRows();
        return -1;
    }
    m_sqlca->setOk(m_rows.isEmpty() ? 100 : 0);
    m_sqlca->SQLNRows = m_rows.size();
    // The query orders the rows; the filter in force still applies.
    applyFilter();
    notifyRows();
    if (retrieveEnd)
        retrieveEnd(RowCount());
    return RowCount();
}

int GridBuffer::Reset()
{
    m_rows.clear();
    m_shown.clear();
    notifyRows();
    return 1;
}

// ---------------------------------------------------------------- filter and sort

int GridBuffer::SetFilter(const QString& expression)
{
    if (!expression.trimmed().isEmpty()) {
        const auto m = filterPattern().match(expression);
        if (!m.hasMatch() || m_layout.columnIndex(m.captured(1)) < 0)
            return -1;
    }
    m_filter = expression.trimmed();
    return 1;
}

void GridBuffer::applyFilter()
{
    if (m_filter.isEmpty()) {
        m_shown = m_rows;
        return;
    }
    const auto m = filterPattern().match(m_filter);
    FilterRule rule;
    rule.column = m_layout.columnIndex(m.captured(1));
    const bool isText = m.capturedStart(2) >= 0;
    if (isText)
        rule.text = m.captured(2);
    else
        rule.number = Decimal::parse(m.captured(3));
    m_shown.clear();
    for (const RowPtr& r : std::as_const(m_rows)) {
        const QVariant& v = r->values[rule.column];
        if (v.isNull())
            continue; // null equals nothing
        const bool pass = isText ? valueText(v) == rule.text : Decimal::fromVariant(v) == rule.number;
        if (pass)
            m_shown << r;
    }
}

int GridBuffer::Filter()
{
    applyFilter();
    notifyRows();
    return 1;
}

int GridBuffer::SetSort(const QString& expression)
{
    const QStringList parts = expression.split(u',', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QStringList words = part.simplified().split(u' ');
        if (words.isEmpty() || words.size() > 2 || m_layout.columnIndex(words[0]) < 0)
            return -1;
        if (words.size() == 2) {
            const QString dir = words[1].toLower();
            if (dir != u"asc" && dir != u"desc" && dir != u"a" && dir != u"d")
                return -1;
        }
    }
    m_sort = expression.trimmed();
    return 1;
}

int GridBuffer::Sort()
{
    QList<SortKey> keys;
    for (const QString& part : m_sort.split(u',', Qt::SkipEmptyParts)) {
        const QStringList words = part.simplified().split(u' ');
        SortKey k;
        k.column = m_layout.columnIndex(words[0]);
        k.descending = words.size() == 2 && words[1].toLower().startsWith(u'd');
        keys << k;
    }
    if (!keys.isEmpty()) {
        // Stable: rows with equal keys keep the order they had.
        std::stable_sort(m_rows.begin(), m_rows.end(), [&](const RowPtr& a, const RowPtr& b) {
            for (const SortKey& k : keys) {
                const int c =
                    compareValues(m_layout.columns[k.column].type, a->values[k.column], b->values[k.column]);
                if (c != 0)
                    return k.descending ? c > 0 : c < 0;
            }
            return false;
        });
    }
    applyFilter();
    notifyRows();
    return 1;
}

// ---------------------------------------------------------------- update

int GridBuffer::Update()
{
    if (!m_sqlca)
        return -1;
    if (m_layout.updateTable.isEmpty()) {
        m_sqlca->setError(QStringLiteral("the grid %1 has no table to write to").arg(m_layout.name));
        return -1;
    }
    QList<int> where;
    for (const QStringList* names : {&m_layout.keyColumns, &m_layout.matchColumns}) {
        for (const QString& name : *names) {
            const int c = m_layout.columnIndex(name);
            if (c < 0) {
                m_sqlca->setError(
                    QStringLiteral("the grid %1 has no key column %2").arg(m_layout.name, name));
                return -1;
            }
            if (!where.contains(c))
                where << c;
        }
    }
    if (where.isEmpty()) {
        // Without a key an update would reach every stored row.
        m_sqlca->setError(QStringLiteral("the grid %1 has no key columns").arg(m_layout.name));
        return -1;
    }

    QList<RowPtr> changed;
    for (const RowPtr& r : std::as_const(m_rows))
        if (r->modified)
            changed << r;
    if (changed.isEmpty()) {
        m_sqlca->setOk();
        return 1;
    }

    if (updateStart) {
        if (const QString why = updateStart(); !why.isEmpty()) {
            m_sqlca->setError(why);
            return -1;
        }
    }

    // All rows or none: a savepoint when a transaction is already open.
    TransactionGuard tx(*m_sqlca);
    if (!tx.active())
        return -1;
    for (const RowPtr& r : std::as_const(changed)) {
        QStringList sets;
        QVariantList binds;
        for (int c = 0; c < m_layout.columns.size(); ++c) {
            const GridColumn& col = m_layout.columns[c];
            if (!col.writesBack() || sameValue(c, r->values[c], r->original[c]))
                continue;
            sets << QStringLiteral("%1 = ?").arg(col.storedName());
            binds << r->values[c];
        }
        if (sets.isEmpty())
            continue; // only read-only cells changed
        QStringList conditions;
        for (int c : std::as_const(where)) {
            // Found by the values the row had when it was read; null-safe.
            const QString stored = m_layout.columns[c].storedName();
            if (r->original[c].isNull()) {
                conditions << QStringLiteral("%1 IS NULL").arg(stored);
            } else {
                conditions << QStringLiteral("%1 = ?").arg(stored);
                binds << r->original[c];
            }
        }
        const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                .arg(m_layout.updateTable, sets.join(QStringLiteral(", ")),
                                     conditions.join(QStringLiteral(" AND ")));
        if (!m_sqlca->execute(sql, binds))
            return -1; // the guard rolls back and keeps the database's error text
        // No row matched: another user changed its key or removed it since it was
        // read. Writing the other rows would report a save that did not happen.
        if (m_sqlca->SQLNRows == 0) {
            m_sqlca->setError(QStringLiteral("保存失败：%1在数据库中已被他人修改或删除，本次修改都没有保存。"
                                             "请关闭窗口重新打开后再修改。")
                                  .arg(describeRow(r)));
            return -1;
        }
    }
    if (updateWritten) {
        if (const QString why = updateWritten(); !why.isEmpty()) {
            m_sqlca->setError(why);
            return -1; // the guard rolls the rows back too
        }
    }
    if (!tx.commit())
        return -1;
    for (const RowPtr& r : std::as_const(m_rows)) {
        r->original = r->values;
        r->modified = false;
    }
    m_sqlca->setOk();
    return 1;
}

// ---------------------------------------------------------------- presentation

void GridBuffer::SetRedraw(bool on)
{
    const bool wasOff = !m_redraw;
    m_redraw = on;
    if (on && wasOff) {
        m_rowsDirty = false;
        emit rowsChanged();
    }
}

void GridBuffer::notifyRows()
{
    ++m_revision;
    if (m_redraw)
        emit rowsChanged();
    else
        m_rowsDirty = true;
}

void GridBuffer::notifyItem(const RowPtr& row, int column)
{
    ++m_revision;
    if (!m_redraw) {
        m_rowsDirty = true;
        return;
    }
    if (const long pos = shownPosition(row); pos > 0)
        emit itemValueChanged(pos, m_layout.columns[column].name);
}

void GridBuffer::setText(const QString& objectName, const QString& value)
{
    m_texts.insert(objectName.toLower(), value);
    ++m_revision;
    emit appearanceChanged();
}

QString GridBuffer::text(const QString& objectName) const
{
    if (const auto it = m_texts.constFind(objectName.toLower()); it != m_texts.constEnd())
        return *it;
    const GridText* t = m_layout.text(objectName);
    return t ? t->text : QString();
}

void GridBuffer::setPreview(bool on)
{
    preview = on;
    ++m_revision;
    emit appearanceChanged();
}

void GridBuffer::setOrientation(int o)
{
    if (o != 1 && o != 2)
        return;
    orientation = o;
    ++m_revision;
    emit appearanceChanged();
}

void GridBuffer::setPreviewOutline(bool on)
{
    previewOutline = on;
    ++m_revision;
    emit appearanceChanged();
}

void GridBuffer::setPreviewRulers(bool on)
{
    previewRulers = on;
    ++m_revision;
    emit appearanceChanged();
}

void GridBuffer::setRowColors(bool on)
{
    m_rowColors = on;
    ++m_revision;
    emit appearanceChanged();
}

QString GridBuffer::maskFor(long row, const QString& column) const
{
    const int c = m_layout.columnIndex(column);
    if (c < 0)
        return {};
    const GridColumn& col = m_layout.columns[c];
    if (!col.maskByColumn.isEmpty()) {
        const auto flag = GetItemDecimal(row, col.maskByColumn);
        return flag && *flag == Decimal::fromInt(1) ? QStringLiteral("###%") : QStringLiteral("0.00");
    }
    return col.format;
}

QString GridBuffer::displayText(long row, const QString& column) const
{
    const int c = m_layout.columnIndex(column);
    const RowPtr r = shownRow(row);
    if (c < 0 || !r)
        return {};
    const QVariant& v = r->values[c];
    if (v.isNull())
        return {};
    const GridColumn& col = m_layout.columns[c];
    if (col.type == ColumnType::Text)
        return v.toString();
    const QString mask = maskFor(row, column);
    if (col.type != ColumnType::Decimal && col.maskByColumn.isEmpty() &&
        mask.compare(QStringLiteral("[general]"), Qt::CaseInsensitive) == 0)
        return valueText(v);
    if (const auto d = Decimal::fromVariant(v))
        return formatFigure(d, mask);
    return v.toString();
}

QRgb GridBuffer::rowBackground(long row) const
{
    if (!m_rowColors || row < 1)
        return qRgb(255, 255, 255);
    return row % 2 == m_layout.tintParity ? m_layout.tint : qRgb(255, 255, 255);
}
