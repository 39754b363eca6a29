// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

class QWidget;

// "打开所在的文件夹": shows a folder in the desktop's file manager. Where the
// desktop has no file manager set for folders, or cannot open this one, a
// notice tells the user the folder's path in text they can select and copy,
// instead of nothing happening. False when the folder was not opened.
bool showFolder(const QString& folder, QWidget* parent = nullptr);

// What stands for the desktop (true: it opened the folder); tests replace it.
// Null restores the desktop's own.
void setFolderOpener(std::function<bool(const QString& folder)> opener);
