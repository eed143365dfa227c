// Numbers the metric must reproduce exactly: the search's worked example,
// the normalisation, weights, pooling, display values and phase lines.
#include "driver/settings.h"
#include "metric/error_maps.h"
#include "metric/evaluate_view.h"
#include "metric/feature_maps.h"
#include "metric/pooling.h"
#include "metric/show_map.h"
#include "metric/similarity_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <sstream>
#include <vector>

namespace {

cv::Mat row(const std::vector<float>& values)
{
    return cv::Mat(values, true).reshape(1, 1);
}

struct ImageSize {
    ImageSize(int width, int height)
    {
        g_imageWidth = width;
        g_imageHeight = height;
    }
};

cv::Mat expTable()
{
    cv::Mat table(6, 1, CV_32F);
    for (int i = 0; i < 6; ++i)
        table.at<float>(i, 0) = std::exp(-static_cast<float>(i));
    return table;
}

// One row of eight pixels: only pixel 3 has different disparities.
struct WorkedExample {
    ImageSize size{8, 1};
    cv::Mat view = row({10, 20, 30, 40, 50, 60, 70, 80});
    cv::Mat dispA = row({0, 0, 0, 2, 0, 0, 0, 0});
    cv::Mat dispB = row({0, 0, 0, 0, 1, 1, 0, 0});
    cv::Mat self = view.clone(), invad = view.clone();
    cv::Mat validSelf = cv::Mat::zeros(1, 8, CV_32F), validInvad = cv::Mat::zeros(1, 8, CV_32F);

    void search(float edgeAtPixel3)
    {
        cv::Mat edge = cv::Mat::zeros(1, 8, CV_32F);
        edge.at<float>(0, 3) = edgeAtPixel3;
        searchSimilarity(view, dispA, dispB, dispA - dispB, expTable(), edge, self, invad, validSelf, validInvad);
    }
};

} // namespace

TEST(SimilaritySearch, WorkedExampleWithoutEdgeSteps)
{
    WorkedExample ex;
    ex.search(0.0f);
    EXPECT_FLOAT_EQ(ex.self.at<float>(0, 3), 60.0f);
    EXPECT_FLOAT_EQ(ex.invad.at<float>(0, 3), 20.0f);
    EXPECT_EQ(ex.validSelf.at<float>(0, 3), 1.0f);
    EXPECT_EQ(ex.validInvad.at<float>(0, 3), 1.0f);
    // Pixels with equal disparities keep their value and are marked.
    for (int j : {0, 1, 2, 6, 7}) {
        EXPECT_EQ(ex.self.at<float>(0, j), ex.view.at<float>(0, j));
        EXPECT_EQ(ex.invad.at<float>(0, j), ex.view.at<float>(0, j));
        EXPECT_EQ(ex.validSelf.at<float>(0, j), 1.0f) << j;
        EXPECT_EQ(ex.validInvad.at<float>(0, j), 1.0f) << j;
    }
}

TEST(SimilaritySearch, WorkedExampleWithEdgeSteps)
{
    WorkedExample ex;
    ex.search(0.5f);
    EXPECT_NEAR(ex.self.at<float>(0, 3), 51.5536f, 5e-5);
    EXPECT_NEAR(ex.invad.at<float>(0, 3), 26.6667f, 5e-5);
    const float e1 = std::exp(-1.0f);
    EXPECT_EQ(ex.self.at<float>(0, 3), (e1 * 60.0f + 1.0f * 50.0f + 1.0f * 50.0f) / (e1 + 1.0f + 1.0f));
}

TEST(SimilaritySearch, EdgeThresholdIsStrictAndIgnoresNaN)
{
    for (float edge : {0.1f, std::nanf("")}) {
        WorkedExample ex;
        ex.search(edge);
        EXPECT_EQ(ex.self.at<float>(0, 3), 60.0f);
    }
    WorkedExample ex;
    ex.search(std::nextafter(0.1f, 1.0f));
    EXPECT_NE(ex.self.at<float>(0, 3), 60.0f);
}

TEST(SimilaritySearch, ArrivalOutsideTheRowSkipsOnlyThatPass)
{
    ImageSize size(4, 1);
    cv::Mat view = row({10, 20, 30, 40});
    cv::Mat dispA = row({-1, 0, 0, 1});  // pixel 0 arrives at -1, pixel 3 at 4
    cv::Mat dispB = row({0, 0, 0, 0});
    cv::Mat self = view.clone(), invad = view.clone();
    cv::Mat validSelf = cv::Mat::zeros(1, 4, CV_32F), validInvad = cv::Mat::zeros(1, 4, CV_32F);
    searchSimilarity(view, dispA, dispB, dispA - dispB, expTable(), cv::Mat::zeros(1, 4, CV_32F), self, invad,
                     validSelf, validInvad);
    EXPECT_EQ(validSelf.at<float>(0, 0), 0.0f);
    EXPECT_EQ(validSelf.at<float>(0, 3), 0.0f);
    EXPECT_EQ(validInvad.at<float>(0, 0), 1.0f); // dispB keeps it in the row
    EXPECT_EQ(validInvad.at<float>(0, 3), 1.0f);
    // The invading search starts at j + 1 (pixel 0) and j - 1 (pixel 3).
    EXPECT_EQ(invad.at<float>(0, 0), 20.0f);
    EXPECT_EQ(invad.at<float>(0, 3), 30.0f);
}

TEST(SimilaritySearch, AbsurdDisparitiesStayInsideTheMaps)
{
    ImageSize size(4, 1);
    cv::Mat view = row({10, 20, 30, 40});
    cv::Mat dispA = row({3e9f, -3e9f, 2147483520.0f, std::nanf("")});
    cv::Mat dispB = row({-3e9f, 3e9f, -2147483520.0f, 0});
    cv::Mat self = view.clone(), invad = view.clone();
    cv::Mat validSelf = cv::Mat::zeros(1, 4, CV_32F), validInvad = cv::Mat::zeros(1, 4, CV_32F);
    searchSimilarity(view, dispA, dispB, dispA - dispB, expTable(), cv::Mat::zeros(1, 4, CV_32F), self, invad,
                     validSelf, validInvad);
    EXPECT_EQ(cv::countNonZero(validSelf), 0);
    EXPECT_EQ(validInvad.at<float>(0, 3), 1.0f);
    EXPECT_EQ(truncateDisparity(-2.7f), -2);
    EXPECT_EQ(truncateDisparity(2.7f), 2);
}

TEST(NormalizeMinMax, RescalesByOwnRangeAndKeepsNaN)
{
    cv::Mat a = row({2, 4, 6});
    normalizeMinMax(a);
    EXPECT_EQ(a.at<float>(0, 0), 0.0f);
    EXPECT_EQ(a.at<float>(0, 1), 0.5f);
    EXPECT_EQ(a.at<float>(0, 2), 1.0f);

    cv::Mat b = row({5, std::nanf(""), 7});
    normalizeMinMax(b);
    EXPECT_EQ(b.at<float>(0, 0), 0.0f);
    EXPECT_TRUE(std::isnan(b.at<float>(0, 1)));
    EXPECT_EQ(b.at<float>(0, 2), 1.0f);

    // The scan starts from fixed bounds, not from the first element.
    cv::Mat c = row({2e6f, 3e6f});
    normalizeMinMax(c);
    EXPECT_EQ(c.at<float>(0, 0), 0.5f);
}

TEST(NormalizeMinMax, HandlesRowsThatAreNotContiguous)
{
    cv::Mat big = (cv::Mat_<float>(2, 3) << 1, 2, 9, 3, 5, 9);
    cv::Mat roi = big(cv::Rect(0, 0, 2, 2));
    normalizeMinMax(roi);
    EXPECT_EQ(big.at<float>(1, 1), 1.0f);
    EXPECT_EQ(big.at<float>(0, 2), 9.0f);
}

TEST(WeightAndErrorMaps, ValuesOfSinglePixels)
{
    ImageSize size(1, 1);
    cv::Mat w;
    computeWeightMap(row({0.5f}), row({0.25f}), row({0.5f}), w);
    EXPECT_EQ(w.at<float>(0, 0), 0.1376f);
    computeWeightMap(row({1}), row({1}), row({1}), w);
    EXPECT_EQ(w.at<float>(0, 0), 1.0f + g_weightOffset);
    computeWeightMap(row({0.3f}), row({0.7f}), row({0}), w);
    EXPECT_EQ(w.at<float>(0, 0), g_weightOffset);

    cv::Mat e;
    computeErrorMap(row({255}), row({0}), e);
    EXPECT_EQ(e.at<float>(0, 0), 1.0f);
    computeErrorMap(row({127.5f}), row({0}), e);
    EXPECT_EQ(e.at<float>(0, 0), 0.25f);
    computeErrorMap(row({97.3f}), row({97.3f}), e);
    EXPECT_EQ(e.at<float>(0, 0), 0.0f);
}

TEST(Pooling, WeightedMeanOverMarkedTerms)
{
    ImageSize size(3, 1);
    // Pixel 0 counts in both passes, pixel 1 in none, pixel 2 only through
    // a mark of exactly 1 (0.5 and 2 do not count).
    const cv::Mat selfSim = row({0.25f, 0.9f, 0.0f}), selfWeight = row({0.5f, 7, 1.5f});
    const cv::Mat invadSim = row({0, 0.9f, 0.3f}), invadWeight = row({0, 7, 2});
    const PooledError pooled =
        poolErrors(selfSim, selfWeight, row({1, 0, 1}), invadSim, invadWeight, row({1, 0.5f, 2}));
    EXPECT_EQ(pooled.error, 0.0625f);
    EXPECT_EQ(pooled.countedTerms, 3);

    EXPECT_EQ(poolErrors(row({1, 1, 1}), row({1, 2, 3}), row({1, 1, 1}), row({1, 1, 1}), row({1, 2, 3}),
                         row({1, 1, 1}))
                  .error,
              1.0f);
}

TEST(RenderMap, FixedAndAutomaticRange)
{
    const cv::Mat fixed = renderMap(row({1.0f, 0.0f, 0.5f, 2.0f, 1.18f, -0.006f}), false);
    EXPECT_EQ(fixed.type(), CV_8U);
    EXPECT_EQ(fixed.at<uint8_t>(0, 0), 255);
    EXPECT_EQ(fixed.at<uint8_t>(0, 1), 0);
    EXPECT_EQ(fixed.at<uint8_t>(0, 2), 127);
    EXPECT_EQ(fixed.at<uint8_t>(0, 3), 254); // low eight bits of 510
    EXPECT_EQ(fixed.at<uint8_t>(0, 4), 44);  // of 300.9 truncated
    EXPECT_EQ(fixed.at<uint8_t>(0, 5), 255); // of -1.53 truncated

    const cv::Mat automatic = renderMap(row({3, 7, 5}), true);
    EXPECT_EQ(automatic.at<uint8_t>(0, 0), 0);
    EXPECT_GE(automatic.at<uint8_t>(0, 1), 254);
    EXPECT_EQ(automatic.at<uint8_t>(0, 2), 127);

    // Elements all above 1e5 are stretched from 1e5.
    const cv::Mat high = renderMap(row({200000, 300000}), true);
    EXPECT_EQ(high.at<uint8_t>(0, 0), 127);

    const cv::Mat flat = renderMap(row({4, 4}), true);
    EXPECT_EQ(cv::countNonZero(flat), 0);
}

TEST(EvaluateView, PhaseLinesInOrderAndSameResult)
{
    ImageSize size(32, 16);
    cv::Mat view(16, 32, CV_32F), dispA(16, 32, CV_32F), dispB(16, 32, CV_32F);
    cv::RNG rng(7);
    rng.fill(view, cv::RNG::UNIFORM, 0, 255);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 32; ++c) {
            dispA.at<float>(r, c) = c < 16 ? -3.0f : -8.0f;
            dispB.at<float>(r, c) = c < 14 ? -3.0f : -7.0f;
        }
    const cv::Mat viewBefore = view.clone();
    const float quiet = evaluateView(view, dispA, dispB);

    std::ostringstream captured;
    std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
    g_printPhases = true;
    const float loud = evaluateView(view, dispA, dispB);
    g_printPhases = false;
    std::cout.rdbuf(saved);

    EXPECT_EQ(quiet, loud);
    EXPECT_EQ(cv::norm(view, viewBefore, cv::NORM_INF), 0.0);
    std::istringstream lines(captured.str());
    std::string line;
    std::vector<std::string> banners;
    int timeLines = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("Time: ", 0) == 0 && line.size() > 11 && line.substr(line.size() - 5) == "(sec)")
            ++timeLines;
        else
            banners.push_back(line);
    }
    EXPECT_EQ(timeLines, 4);
    EXPECT_EQ(banners, (std::vector<std::string>{"<<Preparation>>", "<<Self Similarity>>", "<<Weighting>>",
                                                 "<<Pooling>>"}));
    EXPECT_EQ(captured.str().substr(0, 16), "<<Preparation>>\n");
}

TEST(EvaluateView, EqualDisparitiesGiveZeroError)
{
    ImageSize size(40, 24);
    cv::Mat view(24, 40, CV_32F), disp(24, 40, CV_32F);
    cv::RNG rng(3);
    rng.fill(view, cv::RNG::UNIFORM, 0, 255);
    rng.fill(disp, cv::RNG::UNIFORM, -6, 6);
    disp.convertTo(disp, CV_32S);
    disp.convertTo(disp, CV_32F);
    ViewDetails details;
    EXPECT_EQ(evaluateView(view, disp, disp.clone(), &details), 0.0f);
    EXPECT_EQ(details.disagreeingPixels, 0);
    EXPECT_GT(details.countedTerms, 0);
}

TEST(NormalizeMinMax, MapWithoutRangeBecomesZero)
{
    cv::Mat flat = row({3, 3, 3});
    normalizeMinMax(flat);
    EXPECT_EQ(cv::countNonZero(flat), 0);

    // The scan skips NaN, so this map has no range either: all 0.
    cv::Mat withNaN = row({-4, std::nanf(""), -4});
    normalizeMinMax(withNaN);
    EXPECT_EQ(withNaN.at<float>(0, 1), 0.0f);
    EXPECT_EQ(cv::countNonZero(withNaN), 0);
}
