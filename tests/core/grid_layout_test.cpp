// SPDX-License-Identifier: GPL-3.0-or-later
// Number masks and rounding of what the grids show, and the row colour rule.
#include "foundation/gridbuffer.h"
#include "foundation/gridlayout.h"
#include "report/d_xmjdzl.h"

#include <gtest/gtest.h>

namespace {

std::optional<Decimal> dec(const char* text)
{
    return Decimal::parse(QString::fromLatin1(text));
}

TEST(GridMaskTest, FiguresRoundHalfAwayFromZeroUnderEveryMask)
{
    struct Case
    {
        const char* value;
        const char* mask;
        const char* shown;
    };
    const Case cases[] = {
        {"0.25", "###%", "25%"},
        {"0.125", "###%", "13%"},
        {"-0.125", "###%", "-13%"},
        {"-0.5", "###%", "-50%"},
        {"1", "###%", "100%"},
        {"12.3456", "###%", "1235%"},
        {"0.0049", "###%", "0%"},
        {"-0.0049", "###%", "0%"},
        {"0.25", "0.00", "0.25"},
        {"1.625", "0.00", "1.63"},
        {"-1.625", "0.00", "-1.63"},
        {"-0.005", "0.00", "-0.01"},
        {"-0.004", "0.00", "0.00"},
        {"2.675", "0.00", "2.68"},
        {"1.005", "0.00", "1.01"},
        {"0", "0.00", "0.00"},
        {"1234567.891", "0.00", "1234567.89"},
        {"1234567.891", "#,##0.00", "1,234,567.89"},
        {"0.1", "[general]", "0.1"},
        {"10", "[GENERAL]", "10"},
        {"-0.0625", "[general]", "-0.0625"},
        {"2.50", "[general]", "2.5"},
        {"3.14159", "0.0", "3.1"},
        {"7.5", "0", "8"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatFigure(dec(c.value), QString::fromLatin1(c.mask)), QString::fromLatin1(c.shown))
            << c.value << " " << c.mask;
    EXPECT_EQ(formatFigure(std::nullopt, QStringLiteral("###%")), QString());
    EXPECT_EQ(formatFigure(std::nullopt, QStringLiteral("0.00")), QString());
    // 0.1 + 0.2 is exactly 0.3 all the way to the screen.
    EXPECT_EQ(formatFigure(*dec("0.1") + *dec("0.2"), QStringLiteral("[general]")), QStringLiteral("0.3"));
}

TEST(GridTextTest, ColumnsAndTextsByName)
{
    // Rows set through the buffer's own edit path, without a database.
    GridBuffer grid(d_xmjdzl());
    EXPECT_EQ(grid.RowCount(), 0);
    EXPECT_EQ(grid.displayText(1, QStringLiteral("qichu")), QString());
    EXPECT_EQ(grid.layout().columnIndex(QStringLiteral("S_ZBFA_FLAG2")), 5);
    EXPECT_EQ(grid.layout().columnIndex(QStringLiteral("nosuch")), -1);
    EXPECT_EQ(grid.text(QStringLiteral("t_qijian")), QStringLiteral("报表期间："));
    grid.setText(QStringLiteral("t_qijian"), QStringLiteral("报表期间：2024年3月"));
    EXPECT_EQ(grid.text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2024年3月"));
    EXPECT_EQ(grid.text(QStringLiteral("t_none")), QString());
}

TEST(GridColourTest, TintFallsOnTheRowsOfTheLayoutsParity)
{
    GridLayout even = d_xmjdzl();
    even.tintParity = 0;
    GridBuffer g(even);
    const QRgb white = qRgb(255, 255, 255);
    const QRgb pink = qRgb(255, 235, 255);
    EXPECT_EQ(g.rowBackground(1), white);
    EXPECT_EQ(g.rowBackground(2), pink);
    EXPECT_EQ(g.rowBackground(4), pink);
    g.setRowColors(false);
    EXPECT_EQ(g.rowBackground(2), white);

    GridLayout odd = d_xmjdzl();
    odd.tintParity = 1;
    GridBuffer h(odd);
    EXPECT_EQ(h.rowBackground(1), pink);
    EXPECT_EQ(h.rowBackground(2), white);
    EXPECT_EQ(h.rowBackground(3), pink);
}

} // namespace
