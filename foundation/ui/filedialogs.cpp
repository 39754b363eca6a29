// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/ui/filedialogs.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTreeView>

namespace filedialogs {

namespace {

// The list of files as the program shows it: the file system model's columns
// (name, size, kind, date modified), the last three in the default locale,
// which the program sets to Chinese, instead of the system's.
class ChineseColumns final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale locale;
        switch (index.column()) {
        case 1:
            return files->isDir(source)
                       ? QString()
                       : locale.formattedDataSize(files->size(source), 1, QLocale::DataSizeTraditionalFormat);
        case 2:
            return files->isDir(source) ? QStringLiteral("文件夹") : QIdentityProxyModel::data(index, role);
        default:
            return locale.toString(files->lastModified(source), QLocale::ShortFormat);
        }
    }
};

} // namespace

void dress(QFileDialog& dialog)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setProxyModel(new ChineseColumns(&dialog));
    // Room for every column: name, size, kind and date modified.
    dialog.resize(820, 500);
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        const QList<int> widths{300, 100, 170, 150};
        for (int c = 0; c < widths.size(); ++c)
            details->header()->resizeSection(c, widths[c]);
    }
}

QString saveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter,
                 QFileDialog::Options options)
{
    QFileDialog dialog(parent, caption, suggested, filter);
    dialog.setOptions(options);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dress(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString openFile(QWidget* parent, const QString& caption, const QString& start, const QString& filter)
{
    QFileDialog dialog(parent, caption, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dress(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString folder(QWidget* parent, const QString& caption, const QString& start)
{
    QFileDialog dialog(parent, caption, start);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dress(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace filedialogs
