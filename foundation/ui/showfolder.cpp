// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/ui/showfolder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace {

std::function<bool(const QString&)> g_opener;

// Whether the desktop names a program for folders. xdg-open hands a folder to
// that program and fails (late, in a process of its own) when there is none,
// while Qt counts the start of xdg-open as success; so the question is asked
// first. Without xdg-mime the desktop's own answer is all there is.
bool desktopHasFileManager()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (tool.isEmpty())
        return true;
    QProcess query;
    query.start(tool,
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory")});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return true; // no answer in time: leave it to the desktop
    }
    return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}

bool desktopOpens(const QString& folder)
{
    return desktopHasFileManager() && QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace

void setFolderOpener(std::function<bool(const QString& folder)> opener)
{
    g_opener = std::move(opener);
}

bool showFolder(const QString& folder, QWidget* parent)
{
    const QString path = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    if (g_opener ? g_opener(path) : desktopOpens(path))
        return true;
    QMessageBox box(parent ? parent : QApplication::activeWindow());
    box.setObjectName(QStringLiteral("w_folder_path"));
    box.setWindowTitle(QStringLiteral("提示信息"));
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("本机没有设置打开文件夹的程序，请在文件管理器中打开该文件夹：\n\n") +
                QDir::toNativeSeparators(path));
    // The path can be selected and copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
    return false;
}
