// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileDialog>
#include <QString>

// The program's file dialogs. Always Qt's own dialog, whatever the desktop (a
// desktop's native dialog speaks the desktop's language), with its sizes, dates
// and kinds in Chinese even where the system's locale is not Chinese: Qt's
// dialog takes its words from the Chinese translations, but formats sizes and
// dates in the system's locale, and these dialogs show them in the program's.
namespace filedialogs {

// A file to write: the chosen path, empty when cancelled.
QString saveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter,
                 QFileDialog::Options options = {});
// A file to open: the chosen path, empty when cancelled.
QString openFile(QWidget* parent, const QString& caption, const QString& start, const QString& filter);

// A folder: the chosen path, empty when cancelled.
QString folder(QWidget* parent, const QString& caption, const QString& start);

// Makes a dialog one of the program's: Qt's own, sized for its columns, with
// the sizes, dates and kinds of its list in the program's Chinese.
void dress(QFileDialog& dialog);

} // namespace filedialogs
