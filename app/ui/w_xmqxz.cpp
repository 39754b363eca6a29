// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/w_xmqxz.h"

#include "foundation/host.h"
#include "foundation/sqlca.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

w_xmqxz::w_xmqxz(Sqlca& sqlca, const QString& current, QWidget* parent, const QString& scope)
    : QDialog(parent), m_search(new QLineEdit(this)), m_tree(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("w_xmqxz"));
    setWindowTitle(QStringLiteral("选择区域"));
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(10);
    setFont(f);

    m_search->setObjectName(QStringLiteral("sle_search"));
    m_search->setPlaceholderText(QStringLiteral("输入区域名称或编码查找"));
    m_search->setClearButtonEnabled(true);

    m_tree->setObjectName(QStringLiteral("tv_qybm"));
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({QStringLiteral("区域名称"), QStringLiteral("区域编码")});
    m_tree->setUniformRowHeights(true);
    m_tree->setAlternatingRowColors(true);
    m_tree->setStyleSheet(QStringLiteral("QTreeView::item { padding: 3px 2px; }"));
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName(QStringLiteral("cb_ok"));
    QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cb_cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!selectedCode().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    auto* hint = new QLabel(QStringLiteral("查找："), this);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(hint);
    searchRow->addWidget(m_search, 1);
    layout->addLayout(searchRow);
    layout->addWidget(m_tree, 1);
    layout->addWidget(buttons);
    resize(440, 520);

    load(sqlca, scope);
    connect(m_search, &QLineEdit::textChanged, this, &w_xmqxz::applySearch);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &w_xmqxz::updateButtons);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item && !item->isHidden()) {
            m_tree->setCurrentItem(item);
            accept();
        }
    });
    if (!select(current.trimmed()))
        m_tree->setCurrentItem(nullptr);
    updateButtons();
    m_search->setFocus();
}

void w_xmqxz::load(Sqlca& sqlca, const QString& scope)
{
    const auto rows = sqlca.selectAll(QStringLiteral("SELECT qybm, qymc FROM s_qybm ORDER BY qybm"));
    if (!rows) {
        m_error = sqlca.SQLErrText;
        return;
    }
    QList<QPair<QString, QString>> regions;
    for (const QVariantList& r : *rows) {
        const QString code = r.value(0).toString().trimmed();
        if (!code.isEmpty() && regionInScope(scope, code))
            regions.append({code, r.value(1).toString().trimmed()});
    }
    // Parents before children: shorter codes first, then by code.
    std::stable_sort(regions.begin(), regions.end(), [](const auto& a, const auto& b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size() : a.first < b.first;
    });
    for (const auto& [code, name] : regions) {
        if (m_items.contains(code))
            continue;
        // The parent is the region with the longest code that is a proper prefix of this one.
        QTreeWidgetItem* parent = nullptr;
        for (qsizetype n = code.size() - 1; n > 0 && !parent; --n)
            parent = m_items.value(code.left(n), nullptr);
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
        item->setText(0, name.isEmpty() ? code : name);
        item->setText(1, code);
        item->setData(0, Qt::UserRole, code);
        item->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
        m_items.insert(code, item);
    }
    m_tree->sortItems(1, Qt::AscendingOrder);
    // The province and its cities open; the rest on demand.
    for (QTreeWidgetItem* item : std::as_const(m_items))
        if (!item->parent())
            item->setExpanded(true);
}

QString w_xmqxz::selectedCode() const
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || item->isHidden())
        return {};
    return item->data(0, Qt::UserRole).toString();
}

bool w_xmqxz::select(const QString& code)
{
    QTreeWidgetItem* item = m_items.value(code.trimmed(), nullptr);
    if (!item || item->isHidden())
        return false;
    for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
        p->setExpanded(true);
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
    updateButtons();
    return true;
}

int w_xmqxz::shownCount() const
{
    int n = 0;
    for (QTreeWidgetItem* item : m_items) {
        bool shown = !item->isHidden();
        for (QTreeWidgetItem* p = item->parent(); p && shown; p = p->parent())
            shown = !p->isHidden();
        n += shown ? 1 : 0;
    }
    return n;
}

void w_xmqxz::setSearchText(const QString& text)
{
    m_search->setText(text);
}

void w_xmqxz::applySearch(const QString& raw)
{
    const QString text = raw.trimmed();
    QTreeWidgetItem* firstMatch = nullptr;
    // Matches keep their ancestors visible; everything else hides.
    for (QTreeWidgetItem* item : std::as_const(m_items)) {
        item->setHidden(!text.isEmpty());
        QFont f = item->font(0);
        f.setBold(false);
        item->setFont(0, f);
    }
    if (!text.isEmpty()) {
        QList<QTreeWidgetItem*> matches;
        for (QTreeWidgetItem* item : std::as_const(m_items))
            if (item->text(0).contains(text, Qt::CaseInsensitive) || item->text(1).contains(text))
                matches << item;
        std::sort(matches.begin(), matches.end(),
                  [](QTreeWidgetItem* a, QTreeWidgetItem* b) { return a->text(1) < b->text(1); });
        for (QTreeWidgetItem* item : matches) {
            item->setHidden(false);
            // The regions found stand out from the ones shown only as their parents.
            QFont f = item->font(0);
            f.setBold(true);
            item->setFont(0, f);
            for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) {
                p->setHidden(false);
                p->setExpanded(true);
            }
            if (!firstMatch)
                firstMatch = item;
        }
    }
    if (firstMatch) {
        m_tree->setCurrentItem(firstMatch);
        m_tree->scrollToItem(firstMatch);
    } else if (!text.isEmpty()) {
        m_tree->setCurrentItem(nullptr);
    }
    updateButtons();
}

void w_xmqxz::updateButtons()
{
    m_ok->setEnabled(!selectedCode().isEmpty());
}
