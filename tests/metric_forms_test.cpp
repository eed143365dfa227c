// The metric has three forms that must give the same bits: float maps
// through the general search, and 8-bit view and depth maps through the
// depth-row stages, as vector code and as scalar code. Generated scenes of
// several sizes, and cameras that send disparities far out of range.
#include "driver/camera.h"
#include "driver/disparity.h"
#include "driver/settings.h"
#include "metric/depth_rows.h"
#include "metric/evaluate_view.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#if defined(MORVEX_VECTOR_CODE) && defined(__x86_64__) && defined(__GNUC__)
#include "metric/error_terms_avx2.h"
#define MORVEX_TEST_AVX2 1
#endif

namespace {

struct FormCase {
    int width, height;
    unsigned seed;
    const char* camera; // empty: the scene's own
};

uint32_t bitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct ViewOutcome {
    uint32_t errorBits;
    long long counted, disagreeing;
    bool operator==(const ViewOutcome& o) const
    {
        return errorBits == o.errorBits && counted == o.counted && disagreeing == o.disagreeing;
    }
};

std::ostream& operator<<(std::ostream& out, const ViewOutcome& v)
{
    return out << "error bits " << v.errorBits << ", counted " << v.counted << ", disagreeing " << v.disagreeing;
}

ViewOutcome depthForm(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB, char side, bool vector)
{
    useDepthRowVectorCode(vector);
    ViewDetails details;
    const float error = evaluateDepthView(view, depthA, depthB, side, &details);
    useDepthRowVectorCode(true);
    return {bitsOf(error), details.countedTerms, details.disagreeingPixels};
}

ViewOutcome floatForm(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB, char side)
{
    cv::Mat viewF, dispA, dispB;
    view.convertTo(viewF, CV_32F);
    depthToDisparity(depthA, dispA, side);
    depthToDisparity(depthB, dispB, side);
    ViewDetails details;
    const float error = evaluateView(viewF, dispA, dispB, &details);
    return {bitsOf(error), details.countedTerms, details.disagreeingPixels};
}

class MetricForms : public ::testing::TestWithParam<FormCase> {};

} // namespace

TEST_P(MetricForms, GiveTheSameBits)
{
    const FormCase c = GetParam();
    const SampleScene scene = makeSampleScene({c.width, c.height, c.seed, 0});
    const std::string cameraPath = makeTempDir("forms") + "/camera.txt";
    std::ofstream(cameraPath) << (std::strlen(c.camera) > 0 ? std::string(c.camera) : scene.cameraText);
    ASSERT_EQ(readCameraParameters(cameraPath), 9);
    g_imageWidth = c.width;
    g_imageHeight = c.height;

    const struct {
        const cv::Mat &view, &depthA, &depthB;
        char side;
    } views[] = {{scene.left, scene.depthLeftA, scene.depthLeftB, 'L'},
                 {scene.right, scene.depthRightA, scene.depthRightB, 'R'}};
    for (const auto& v : views) {
        const ViewOutcome reference = floatForm(v.view, v.depthA, v.depthB, v.side);
        EXPECT_EQ(depthForm(v.view, v.depthA, v.depthB, v.side, false), reference) << "scalar, side " << v.side;
        EXPECT_EQ(depthForm(v.view, v.depthA, v.depthB, v.side, true), reference) << "vector, side " << v.side;
    }
}

INSTANTIATE_TEST_SUITE_P(
    GeneratedScenes, MetricForms,
    ::testing::Values(FormCase{8, 9, 1, ""}, FormCase{16, 16, 2, ""}, FormCase{64, 48, 3, ""},
                      FormCase{641, 479, 4, ""}, FormCase{1001, 600, 5, ""},
                      // Disparities of thousands of pixels, and of billions.
                      FormCase{203, 101, 6, "1 10 1 10 30000 100 104 0 10"},
                      FormCase{203, 101, 7, "1 10 1 10 3e12 100 104 0 10"},
                      // Disparities that change sign within the depth range.
                      FormCase{160, 90, 8, "1 10 1 10 500 100 360 0 1"}));

#ifdef MORVEX_TEST_AVX2
namespace {

// The vector test's verdicts, in the order of the estimates.
__attribute__((target("avx2"))) std::array<bool, 8> vectorNearHalfway(const double self[4], const double invad[4])
{
    int32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), nearHalfway(_mm256_loadu_pd(self), _mm256_loadu_pd(invad)));
    return {lanes[0] != 0, lanes[1] != 0, lanes[4] != 0, lanes[5] != 0,
            lanes[2] != 0, lanes[3] != 0, lanes[6] != 0, lanes[7] != 0};
}

// A double of the given sign and size whose bits below float precision are
// the halfway pattern plus `offset`.
double offHalfway(double value, int64_t offset)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits = (bits & ~kBelowFloatPrecision) | ((kHalfwayBits + offset) & kBelowFloatPrecision);
    std::memcpy(&value, &bits, sizeof bits);
    return value;
}

} // namespace

// The vector code decides which error estimates need the division, eight at
// a time on 32-bit halves of the doubles: its verdicts must be the scalar
// ones at and around the margin, for either sign and any size.
TEST(ErrorTermForms, VectorHalfwayTestMatchesScalar)
{
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2";
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::uniform_int_distribution<int64_t> nearby(-3 * static_cast<int64_t>(kHalfwayMargin),
                                                  3 * static_cast<int64_t>(kHalfwayMargin));
    std::uniform_int_distribution<int64_t> anywhere(-static_cast<int64_t>(kHalfwayBits),
                                                    static_cast<int64_t>(kHalfwayBits));
    int nearCount = 0;
    for (int round = 0; round < 20000; ++round) {
        double estimates[8];
        for (double& e : estimates)
            e = offHalfway(value(random) * std::ldexp(1.0, static_cast<int>(random() % 16)),
                           round % 4 == 0 ? anywhere(random) : nearby(random));
        const std::array<bool, 8> verdicts = vectorNearHalfway(estimates, estimates + 4);
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(verdicts[i], nearHalfway(estimates[i])) << std::hexfloat << estimates[i];
            nearCount += verdicts[i];
        }
    }
    EXPECT_GT(nearCount, 20000);
}
#endif
