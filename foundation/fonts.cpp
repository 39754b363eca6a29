// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/fonts.h"

#include <QFont>
#include <QStringList>

namespace {

bool isSong(const QString& family)
{
    return family == u"宋体" || family.compare(QStringLiteral("SimSun"), Qt::CaseInsensitive) == 0;
}

bool isKai(const QString& family)
{
    return family == u"楷体_GB2312" || family == u"楷体" ||
           family.compare(QStringLiteral("KaiTi"), Qt::CaseInsensitive) == 0;
}

} // namespace

void installFontSubstitutions()
{
    // AR PL UMing carries bitmap strokes for 12 to 16 pixels and takes Latin
    // letters from another family: screen text comes from Noto Sans CJK first.
    const QStringList screen = {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("AR PL UMing CN"), QStringLiteral("DejaVu Sans")};
    const QStringList kai = {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW"),
                             QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), screen);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), screen);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), screen);
    QFont::insertSubstitutions(QStringLiteral("楷体_GB2312"), kai);
    QFont::insertSubstitutions(QStringLiteral("楷体"), kai);
    QFont::insertSubstitutions(QStringLiteral("KaiTi"), kai);
    QFont::insertSubstitutions(QStringLiteral("AR PL UMing CN"),
                               {QStringLiteral("AR PL UMing TW"), QStringLiteral("Noto Serif CJK SC")});
}

QString printFamily(const QString& family)
{
    if (isSong(family))
        return QStringLiteral("AR PL UMing CN");
    if (isKai(family))
        return QStringLiteral("AR PL UKai CN");
    return family;
}

QImage measuringImage(int dotsPerInch)
{
    QImage image(8, 8, QImage::Format_RGB32);
    const int dotsPerMeter = qRound(dotsPerInch / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    return image;
}
