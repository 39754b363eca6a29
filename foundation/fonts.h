#pragma once

// Maps the font names the layouts use ("宋体", "楷体_GB2312", "Tahoma") to the
// CJK fonts installed from Debian, so no text ever renders as boxes.
void installFontSubstitutions();
