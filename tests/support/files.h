// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading back what the program wrote: files, the parts of a zip package, the
// text and the pages of a PDF. The tools are poppler-utils and unzip, which
// scripts/install-deps.sh installs: one that is missing or fails fails the test.

#include <QByteArray>
#include <QString>
#include <QStringList>

// The bytes of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Writes a file the test owns; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
// The names of the files in a folder, sorted.
QStringList filesIn(const QString& folder);

struct ToolRun
{
    bool ok = false; // ran and exited with 0
    QByteArray out;
    QByteArray err;
};
// Runs an installed tool and waits for it; a tool that is not there, does not
// finish or exits with an error is a test failure (ok stays false).
ToolRun runTool(const QString& tool, const QStringList& args);

// One part of a zip package (unzip -p), e.g. "xl/worksheets/sheet1.xml".
QByteArray zipPart(const QString& zip, const QString& part);
// The parts, concatenated, as `unzip -p ZIP PART…` prints them.
QByteArray zipParts(const QString& zip, const QStringList& parts);
// The text of a PDF (pdftotext), with -layout when `layout`.
QString pdfText(const QString& pdf, bool layout = false);
// The page count of a PDF (pdfinfo); -1 after a failure.
int pdfPages(const QString& pdf);
