// The figures of the download face, from the cases a user sees.
#include "upgrade/ProgressFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

const int kSetupSize = 26530000;

TEST(ProgressText, AmountShowsDownloadedAndTotalInTheirOwnUnits)
{
    EXPECT_EQ(FormatAmountText(0, 0.0f), L"0.00KB/0.00KB");
    EXPECT_EQ(FormatAmountText(kSetupSize, 0.0f), L"0.00KB/25.30MB");
    EXPECT_EQ(FormatAmountText(kSetupSize, 0.5f), L"12.65MB/25.30MB");
    EXPECT_EQ(FormatAmountText(500, 1.0f), L"0.49KB/0.49KB");
    EXPECT_EQ(FormatAmountText(INT_MAX, 1.0f), L"2.00GB/2.00GB");
    EXPECT_EQ(FormatAmountText(INT_MAX, 0.25f), L"512.00MB/2.00GB");
}

TEST(ProgressText, UnitThresholdsAreStrict)
{
    // Exactly one unit still reads in the smaller one.
    EXPECT_EQ(FormatAmountText(1048576, 1.0f), L"1024.00KB/1024.00KB");
    EXPECT_EQ(FormatAmountText(1073741824, 1.0f), L"1024.00MB/1024.00MB");
    EXPECT_EQ(FormatAmountText(1024, 1.0f), L"1.00KB/1.00KB");
    // One step above switches.
    EXPECT_EQ(FormatAmountText(1048576 + 1024, 1.0f), L"1.00MB/1.00MB");
    EXPECT_EQ(FormatAmountText(1073741824 + 16 * 1048576, 1.0f), L"1.02GB/1.02GB");
}

TEST(ProgressText, BarPositionIsTruncatedPercentWithFloorOfThree)
{
    EXPECT_EQ(ProgressBarPosition(0.0f), 3);
    EXPECT_EQ(ProgressBarPosition(0.02f), 3) << "0.02 in single precision is just below 2 percent";
    EXPECT_EQ(ProgressBarPosition(0.035f), 3);
    EXPECT_EQ(ProgressBarPosition(0.05f), 5);
    EXPECT_EQ(ProgressBarPosition(0.5f), 50);
    EXPECT_EQ(ProgressBarPosition(0.999f), 99) << "truncated, not rounded";
    EXPECT_EQ(ProgressBarPosition(1.0f), 100);
    EXPECT_EQ(ProgressBarPosition(1.5f), 150) << "more received than announced passes through";
}

TEST(ProgressText, BarPositionSurvivesNonsenseFractions)
{
    EXPECT_EQ(ProgressBarPosition(-0.5f), 3);
    EXPECT_EQ(ProgressBarPosition(std::nanf("")), 3);
    EXPECT_EQ(ProgressBarPosition(1e30f), INT_MAX);
    EXPECT_EQ(ProgressBarPosition(INFINITY), INT_MAX);
}

TEST(ProgressText, SpeedStaysInKilobytesPerSecond)
{
    EXPECT_EQ(FormatSpeedText(1536.5f), L"1536.50KB/S");
    EXPECT_EQ(FormatSpeedText(0.0f), L"0.00KB/S");
    EXPECT_EQ(FormatSpeedText(204800.0f), L"204800.00KB/S") << "never scaled to MB/S";
    // The widest single-precision value still fits the 50-character buffer.
    const std::wstring strMax = FormatSpeedText(3.4e38f);
    EXPECT_EQ(strMax.substr(strMax.size() - 7), L".00KB/S");
    EXPECT_LT(strMax.size(), 50u);
}

TEST(ProgressText, TheShareDoneNeverLeavesTheBarAndFollowsAnyLibrarysCounts)
{
    EXPECT_FLOAT_EQ(DownloadFraction(1000, 1000, 250), 0.25f);
    EXPECT_FLOAT_EQ(DownloadFraction(1000, 600, 100), 0.5f) << "a resume: 400 bytes were on disk";
    EXPECT_FLOAT_EQ(DownloadFraction(1000, 1000, 1200), 1.0f);
    EXPECT_FLOAT_EQ(DownloadFraction(1000, 4000, 1000), 0.25f) << "counts of a larger real file";
    EXPECT_FLOAT_EQ(DownloadFraction(1000, 0xFFFFFFFFu, 500), 0.5f) << "an unknown length";
    EXPECT_FLOAT_EQ(DownloadFraction(1000, 0xFFFFFFFFu, 5000), 1.0f);
    EXPECT_FLOAT_EQ(DownloadFraction(0, 100, 50), 0.0f);
}

}  // namespace
