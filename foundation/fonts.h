// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

// Maps the font names the layouts use ("宋体", "楷体_GB2312", "Tahoma") to the
// CJK fonts installed from Debian, so no text ever renders as boxes. On screen
// "宋体" and "Tahoma" are drawn by Noto Sans CJK SC: outlines that stay smooth
// at 9 and 10 points, with Latin letters and digits of the same family, so one
// family draws each label. "楷体_GB2312" stays a Kai face (AR PL UKai).
void installFontSubstitutions();

// The family the printed page (printer, PDF and the preview of it) uses for a
// layout's font name: TrueType faces PDFs embed, "宋体" as a Song face
// (AR PL UMing), "楷体_GB2312" as a Kai face (AR PL UKai). Other names stay.
QString printFamily(const QString& family);

// A small image of the given resolution to measure text on, so that widths do
// not depend on the screen the program happens to run on.
QImage measuringImage(int dotsPerInch);
