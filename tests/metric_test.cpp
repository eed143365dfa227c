// Numbers the metric must reproduce exactly: the search's worked example,
// the error shortcut, display values and the range of the upscaled edge maps.
#include "metric/depth_rows.h"
#include "metric/evaluate_view.h"
#include "metric/edge_strength.h"
#include "metric/error_terms.h"
#include "metric/similarity_search.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

using namespace morvex::detail;

namespace {

cv::Mat row(const std::vector<float>& values)
{
    return cv::Mat(values, true).reshape(1, 1);
}

morvex::ViewResult withMaps(const cv::Mat& view, const cv::Mat& dispA, const cv::Mat& dispB)
{
    morvex::ViewOptions options;
    options.keepMaps = true;
    return morvex::evaluateView(view, dispA, dispB, options);
}

const float kExpWeight[6] = {1.0f, std::exp(-1.0f), std::exp(-2.0f), std::exp(-3.0f), std::exp(-4.0f),
                             std::exp(-5.0f)};

// One row of eight pixels: only pixel 3 has different disparities. Its self
// pass follows dispB towards column 3 + 2 from column 5; its invading pass
// follows dispA towards column 3 from column 1.
struct WorkedExample {
    std::vector<float> dispA{0, 0, 0, 2, 0, 0, 0, 0};
    std::vector<float> dispB{0, 0, 0, 0, 1, 1, 0, 0};
    std::vector<float> view{10, 20, 30, 40, 50, 60, 70, 80};

    float self(bool onEdge) const { return pass(dispB, 5, 5, onEdge); }
    float invad(bool onEdge) const { return pass(dispA, 3, 1, onEdge); }

    float pass(const std::vector<float>& followed, int64_t x, int64_t start, bool onEdge) const
    {
        const auto truncated = [&followed](int64_t k) { return truncateDisparity(followed[k]); };
        const SearchRow<decltype(truncated)> searchRow{view.data(), truncated, 8, kExpWeight};
        return synthesise(searchRow, x, start, onEdge);
    }
};

// The same row through the 8-bit form of the search, whose disparities come
// from tables: depth value v stands for disparity v here.
struct WorkedDepthRow {
    std::vector<uint8_t> view8{10, 20, 30, 40, 50, 60, 70, 80};
    std::vector<uint8_t> depthA{0, 0, 0, 2, 0, 0, 0, 0};
    std::vector<uint8_t> depthB{0, 0, 0, 0, 1, 1, 0, 0};
    std::vector<float> gradDisp = std::vector<float>(8, 0.0f);
    std::vector<float> disparity, zeros = std::vector<float>(256, 0.0f);
    DepthRowScratch scratch{8};
    RowTerms terms{8};

    // The errors of pixel 3 if its passes synthesise these values.
    static float errorOf(float synthesised) { return squaredError(40.0f, synthesised); }

    WorkedDepthRow()
    {
        for (int v = 0; v < 256; ++v)
            disparity.push_back(static_cast<float>(v));
    }

    void search(float edgeAtPixel3, bool vectorCode)
    {
        gradDisp[3] = edgeAtPixel3;
        const DepthRowInputs in{depthA.data(), depthB.data(), view8.data(), zeros.data(),
                                gradDisp.data(), disparity.data(), 1.0f, 0.0f, zeros.data(), zeros.data(),
                                ValueRange{}, ValueRange{}, kExpWeight, 0.0f, 8, true, true, vectorCode};
        const RowTerms previous(8);
        PoolingShares pooling = poolingShares(previous, 8);
        truncateDepthRow(in, scratch, terms, pooling.truncate);
        searchAndErrorTerms(in, scratch, terms, pooling.search);
    }
};

} // namespace

TEST(SimilaritySearch, WorkedExample)
{
    const WorkedExample ex;
    EXPECT_EQ(ex.self(false), 60.0f);
    EXPECT_EQ(ex.invad(false), 20.0f);
    EXPECT_NEAR(ex.self(true), 51.5536f, 5e-5);
    EXPECT_NEAR(ex.invad(true), 26.6667f, 5e-5);
}

TEST(SimilaritySearch, DepthRowsGiveTheWorkedExampleWithAStrictEdgeThreshold)
{
    for (bool vectorCode : {false, true}) {
        WorkedDepthRow row;
        row.search(0.0f, vectorCode);
        EXPECT_EQ(row.terms.errorSelf[3], row.errorOf(60.0f));
        EXPECT_EQ(row.terms.errorInvad[3], row.errorOf(20.0f));
        EXPECT_EQ(row.scratch.shiftAndCounts[3] >> 2, 2);
        EXPECT_NE(row.scratch.shiftAndCounts[3] & 3, 0);
        EXPECT_EQ(row.scratch.shiftAndCounts[2] & 3, 0);
        EXPECT_EQ(row.terms.errorSelf[2], 0.0f);

        row.search(0.1f, vectorCode); // not above the threshold
        EXPECT_EQ(row.terms.errorSelf[3], row.errorOf(60.0f));
        row.search(std::nextafter(0.1f, 1.0f), vectorCode);
        EXPECT_EQ(row.terms.errorSelf[3], row.errorOf(WorkedExample().self(true)));
        EXPECT_EQ(row.terms.errorInvad[3], row.errorOf(WorkedExample().invad(true)));
    }
}

TEST(EvaluateView, ArrivalOutsideTheRowSkipsOnlyThatPass)
{
    cv::Mat view(8, 8, CV_32F), dispA(8, 8, CV_32F, cv::Scalar(0)), dispB(8, 8, CV_32F, cv::Scalar(0));
    for (int c = 0; c < 8; ++c)
        view.col(c).setTo(10.0f * (c + 1));
    dispA.col(0).setTo(-1.0f); // arrives at -1
    dispA.col(7).setTo(1.0f);  // arrives at 8
    const morvex::ViewResult result = withMaps(view, dispA, dispB);
    const morvex::ViewMaps& maps = result.maps;
    EXPECT_EQ(maps.matValidSelf.at<float>(3, 0), 0.0f);
    EXPECT_EQ(maps.matValidSelf.at<float>(3, 7), 0.0f);
    EXPECT_EQ(maps.matValidInvad.at<float>(3, 0), 1.0f); // dispB keeps it in the row
    EXPECT_EQ(maps.matValidInvad.at<float>(3, 7), 1.0f);
    // The invading search starts at j + 1 (pixel 0) and j - 1 (pixel 7).
    EXPECT_EQ(maps.matInvadSim.at<float>(3, 0), squaredError(10.0f, 20.0f));
    EXPECT_EQ(maps.matInvadSim.at<float>(3, 7), squaredError(80.0f, 70.0f));
    EXPECT_EQ(result.countedPixels, 64 * 2 - 2 * 8);
}

// The error is worked out from a product with 1/255 where that is certain to
// round like the quotient: every result must equal the division's.
TEST(ErrorTerms, ShortcutRoundsLikeTheDivision)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> synthesised(0.0f, 255.0f);
    long long divided = 0;
    for (int v = 0; v < 256; ++v)
        for (int i = 0; i < 4000; ++i) {
            const float s = i < 256 ? static_cast<float>(i) : synthesised(random);
            const double exact = (static_cast<double>(v) - static_cast<double>(s)) / 255.0;
            const float scaled = static_cast<float>(exact);
            ASSERT_EQ(squaredError(static_cast<float>(v), s), scaled * scaled) << v << " " << s;
            divided += !scaledErrorEstimate(static_cast<float>(v), s).certain;
        }
    EXPECT_LT(divided, 256 * 4000 / 1000);
}

TEST(RenderMap, FixedAndAutomaticRange)
{
    const cv::Mat fixed = morvex::renderMap(row({1.0f, 0.0f, 0.5f, 2.0f, 1.18f, -0.006f}), false);
    EXPECT_EQ(fixed.type(), CV_8U);
    EXPECT_EQ(fixed.at<uint8_t>(0, 0), 255);
    EXPECT_EQ(fixed.at<uint8_t>(0, 1), 0);
    EXPECT_EQ(fixed.at<uint8_t>(0, 2), 127);
    EXPECT_EQ(fixed.at<uint8_t>(0, 3), 254); // low eight bits of 510
    EXPECT_EQ(fixed.at<uint8_t>(0, 4), 44);  // of 300.9 truncated
    EXPECT_EQ(fixed.at<uint8_t>(0, 5), 255); // of -1.53 truncated

    const cv::Mat automatic = morvex::renderMap(row({3, 7, 5}), true);
    EXPECT_EQ(automatic.at<uint8_t>(0, 0), 0);
    EXPECT_GE(automatic.at<uint8_t>(0, 1), 254);
    EXPECT_EQ(automatic.at<uint8_t>(0, 2), 127);

    // Elements all above 1e5 are stretched from 1e5.
    const cv::Mat high = morvex::renderMap(row({200000, 300000}), true);
    EXPECT_EQ(high.at<uint8_t>(0, 0), 127);

    const cv::Mat flat = morvex::renderMap(row({4, 4}), true);
    EXPECT_EQ(cv::countNonZero(flat), 0);
}

// The maps are shown in order and change nothing (the phase lines: CommandLine's --phases).
TEST(EvaluateView, ShownMapsInOrderAndSameResult)
{
    cv::Mat view(16, 32, CV_32F), dispA(16, 32, CV_32F), dispB(16, 32, CV_32F);
    cv::RNG rng(7);
    rng.fill(view, cv::RNG::UNIFORM, 0, 255);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 32; ++c) {
            dispA.at<float>(r, c) = c < 16 ? -3.0f : -8.0f;
            dispB.at<float>(r, c) = c < 14 ? -3.0f : -7.0f;
        }
    const cv::Mat viewBefore = view.clone();
    const float quiet = morvex::evaluateView(view, dispA, dispB).error;

    std::vector<std::string> windows;
    morvex::ViewOptions options;
    options.showMap = [&windows](const cv::Mat& map, const std::string& name, bool autoRange) {
        EXPECT_EQ(map.type(), CV_32FC1);
        EXPECT_EQ(autoRange, name.find("Weight") != std::string::npos);
        windows.push_back(name);
    };
    const float loud = morvex::evaluateView(view, dispA, dispB, options).error;

    EXPECT_EQ(quiet, loud);
    EXPECT_EQ(cv::norm(view, viewBefore, cv::NORM_INF), 0.0);
    EXPECT_EQ(windows, (std::vector<std::string>{"matSelfSim", "matInvadSim", "matSelfSim", "matInvadSim",
                                                 "matSelfWeight", "matInvadWeight"}));
}

namespace {

ValueRange scanOfEveryRow(const LinearRows& rows)
{
    ValueRange range;
    std::vector<float> row(rows.columns.index.size());
    for (int r = 0; r < static_cast<int>(rows.rows.size()); ++r) {
        rows.row(r, row.data());
        for (float v : row)
            range.include(v);
    }
    return range;
}

} // namespace

// The range of an upscaled edge map, found from the few blocks that may hold
// its extremes, is the range of every row to the bit.
TEST(EdgeStrength, UpscaledRangeIsTheRangeOfEveryRow)
{
    std::mt19937 random(17);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    const std::function<float(int, int)> patterns[] = {
        [&](int, int) { return uniform(random); },
        [&](int, int) { return uniform(random) < 0.02f ? 40.0f * uniform(random) : 0.0f; },
        [&](int r, int c) { return (r / 5 + c / 7) % 2 == 0 ? 3.0f : 3.0f + 1e-6f * uniform(random); },
        [&](int, int) { return 0.7f; },
        [&](int, int) { return 1.0f + std::ldexp(static_cast<float>(random() % 4), -23); },
        [&](int r, int c) { return static_cast<float>(r * 100 + c); },
        [&](int, int) { return 2e6f + 1e6f * uniform(random); },
        [&](int, int) { return 1e-39f * uniform(random); },
        [&](int r, int c) { return (r + c) % 11 == 0 ? -uniform(random) : uniform(random); },
    };
    const cv::Size sizes[][2] = {{{30, 17}, {240, 136}}, {{31, 17}, {250, 140}}, {{5, 3}, {41, 23}}, {{1, 1}, {8, 9}}};
    for (const auto& size : sizes)
        for (size_t p = 0; p < std::size(patterns); ++p) {
            cv::Mat source(size[0], CV_32F);
            for (int r = 0; r < source.rows; ++r)
                for (int c = 0; c < source.cols; ++c)
                    source.at<float>(r, c) = patterns[p](r, c);
            const LinearRows rows = resizeLinearRowsOnDemand(source, size[1]);
            const ValueRange expected = scanOfEveryRow(rows);
            const ValueRange found = upscaledRange(rows);
            EXPECT_EQ(found.lo, expected.lo) << "pattern " << p << ", " << size[0];
            EXPECT_EQ(found.hi, expected.hi) << "pattern " << p << ", " << size[0];
        }
}
