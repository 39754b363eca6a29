// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class Sqlca;

// The region picker: the regions of s_qybm as a tree by code prefix, a search
// box that keeps the regions whose name or code contains the text (with the
// regions above them), OK with one region chosen.
class w_xmqxz final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_xmqxz)

public:
    // Reads the regions on `sqlca`; `current` is chosen at the start when present.
    // With a scope only the scope's region and the regions below it are offered.
    w_xmqxz(Sqlca& sqlca, const QString& current, QWidget* parent = nullptr,
            const QString& scope = QString());

    // The chosen region's code, empty when none is chosen.
    QString selectedCode() const;
    // Chooses a region by code; false when the tree has no such region.
    bool select(const QString& code);
    // What went wrong reading the regions (empty when nothing did).
    QString loadError() const { return m_error; }
    // Number of regions shown under the current search.
    int shownCount() const;

    void setSearchText(const QString& text);

private:
    void load(Sqlca& sqlca, const QString& scope);
    void applySearch(const QString& text);
    void updateButtons();

    QLineEdit* m_search;
    QTreeWidget* m_tree;
    QPushButton* m_ok;
    QString m_error;
    QHash<QString, QTreeWidgetItem*> m_items;
};
