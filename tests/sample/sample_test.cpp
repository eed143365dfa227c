#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "sample/scene.h"

namespace fs = std::filesystem;

namespace {

std::array<cv::Mat, 6> imagesOf(const SampleScene& s)
{
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

bool identical(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// The disparity the scoring tool derives from the camera file, depth value v.
struct Camera {
    std::array<double, 9> n{};
    double disparity(int v, bool left) const
    {
        const double nearZ = left ? n[0] : n[2], farZ = left ? n[1] : n[3];
        const double baseline = (left ? n[7] : n[8]) - (n[7] + n[8]) / 2;
        const double shift = (n[5] + n[6]) / 2 - (left ? n[5] : n[6]);
        const double inverseZ = v / 255.0 * (1 / nearZ - 1 / farZ) + 1 / farZ;
        return n[4] * baseline * inverseZ + shift;
    }
};

Camera parseCamera(const std::string& text)
{
    std::istringstream in(text);
    Camera camera;
    for (double& value : camera.n)
        EXPECT_TRUE(in >> value) << text;
    std::string extra;
    EXPECT_FALSE(in >> extra) << "more than nine numbers: " << text;
    return camera;
}

class TempDir {
public:
    TempDir()
        : path_(fs::temp_directory_path() /
                ("morvex_sample_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())))
    {
        fs::remove_all(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::vector<char> readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(SampleScene, SameOptionsGiveSameBytesAndSeedsDiffer)
{
    const SampleScene a = makeSampleScene({320, 240, 7, 3});
    const SampleScene b = makeSampleScene({320, 240, 7, 3});
    const SampleScene c = makeSampleScene({320, 240, 8, 3});
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_TRUE(identical(imagesOf(a)[i], imagesOf(b)[i])) << i;
    EXPECT_EQ(a.cameraText, b.cameraText);
    EXPECT_FALSE(identical(a.left, c.left));
    EXPECT_FALSE(identical(a.depthLeftA, c.depthLeftA));
    EXPECT_FALSE(identical(a.depthLeftB, c.depthLeftB));
}

TEST(SampleScene, HonoursOddAndTinySizes)
{
    for (const cv::Size size : {cv::Size(641, 479), cv::Size(16, 16), cv::Size(8, 8), cv::Size(64, 48)}) {
        const SampleScene scene = makeSampleScene({size.width, size.height, 1, 0});
        for (const cv::Mat& image : imagesOf(scene)) {
            EXPECT_EQ(image.size(), size);
            EXPECT_EQ(image.type(), CV_8UC1);
        }
    }
}

TEST(SampleScene, ViewsAreTexturedWithinTheGreyRange)
{
    const SampleScene scene = makeSampleScene({});
    for (const cv::Mat& view : {scene.left, scene.right}) {
        cv::Scalar mean, deviation;
        cv::meanStdDev(view, mean, deviation);
        EXPECT_GT(deviation[0], 15.0);
        double lo = 0, hi = 0;
        cv::minMaxLoc(view, &lo, &hi);
        EXPECT_GE(lo, 20.0);
        EXPECT_LE(hi, 235.0);
    }
    // Background plus several objects at different depths.
    std::array<bool, 256> seen{};
    scene.depthLeftA.forEach<uchar>([&](uchar v, const int*) { seen[v] = true; });
    EXPECT_GE(std::count(seen.begin(), seen.end(), true), 4);
}

TEST(SampleScene, SetBIsACloseButFlawedEstimateOfSetA)
{
    const SampleScene scene = makeSampleScene({});
    const std::array<std::pair<cv::Mat, cv::Mat>, 2> pairs = {std::make_pair(scene.depthLeftA, scene.depthLeftB),
                                                              std::make_pair(scene.depthRightA, scene.depthRightB)};
    for (const auto& [a, b] : pairs) {
        cv::Mat difference;
        cv::absdiff(a, b, difference);
        const double total = static_cast<double>(a.total());
        EXPECT_GT(cv::countNonZero(difference) / total, 0.3);
        EXPECT_GT(cv::countNonZero(difference <= 4) / total, 0.85);
        EXPECT_GT(cv::countNonZero(difference > 20), 0); // edges and holes
    }
}

TEST(SampleScene, CameraGivesIntendedDisparitiesAndViewsAgreeWithIt)
{
    for (const int width : {640, 1920}) {
        const SampleScene scene = makeSampleScene({width, width * 9 / 16, 1, 0});
        const Camera camera = parseCamera(scene.cameraText);
        const double scale = width / 640.0;
        for (const bool left : {true, false}) {
            const double far = camera.disparity(0, left), near = camera.disparity(255, left);
            EXPECT_EQ(far < 0, left);
            EXPECT_EQ(near < 0, left);
            EXPECT_GE(std::abs(far), 2 * scale);
            EXPECT_LE(std::abs(far), 8 * scale);
            EXPECT_GE(std::abs(near), 20 * scale);
            EXPECT_LE(std::abs(near), 60 * scale);
        }
    }

    // A left pixel of depth v lands in the middle camera at x + D_L(v) and comes from
    // the right pixel at that point - D_R(v): where both see it, they agree.
    const SampleScene scene = makeSampleScene({});
    const Camera camera = parseCamera(scene.cameraText);
    int checked = 0, agreeing = 0;
    for (int y = 0; y < scene.left.rows; ++y) {
        for (int x = 0; x < scene.left.cols; ++x) {
            const int v = scene.depthLeftA.at<uchar>(y, x);
            const long middle = x + std::lround(camera.disparity(v, true));
            const long xr = middle - std::lround(camera.disparity(v, false));
            if (xr < 0 || xr >= scene.right.cols)
                continue;
            ++checked;
            agreeing +=
                scene.depthRightA.at<uchar>(y, xr) == v && scene.right.at<uchar>(y, xr) == scene.left.at<uchar>(y, x);
        }
    }
    EXPECT_GT(agreeing, 0.9 * checked);
}

TEST(SampleScene, WritesPngsAndCamera)
{
    const TempDir dir;
    const SampleScene scene = makeSampleScene({33, 17, 2, 0});
    writeSampleScene(scene, (dir.path() / "nested").string());
    const char* names[] = {"left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"};
    for (std::size_t i = 0; i < 6; ++i) {
        const cv::Mat read =
            cv::imread((dir.path() / "nested" / (std::string(names[i]) + ".png")).string(), cv::IMREAD_UNCHANGED);
        EXPECT_TRUE(identical(read, imagesOf(scene)[i])) << names[i];
    }
    const std::vector<char> camera = readBytes(dir.path() / "nested" / "camera.txt");
    EXPECT_EQ(std::string(camera.begin(), camera.end()), scene.cameraText);
}

TEST(SampleSequence, FramesMoveAndYuvFilesHoldExactlyNFrames)
{
    const SampleScene first = makeSampleScene({64, 48, 1, 0});
    const SampleScene second = makeSampleScene({64, 48, 1, 1});
    EXPECT_FALSE(identical(first.left, second.left));
    EXPECT_FALSE(identical(first.depthLeftA, second.depthLeftA));

    const TempDir dir;
    const int width = 33, height = 17, frames = 3;
    writeSampleSequence({width, height, 5, 0}, frames, dir.path().string());
    const std::size_t luma = width * height, chroma = ((width + 1) / 2) * ((height + 1) / 2);
    for (const char* name : {"left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"})
        EXPECT_EQ(fs::file_size(dir.path() / (std::string(name) + ".yuv")), frames * (luma + 2 * chroma)) << name;

    // Frame 1 of left.yuv is the grey view of frame 1, then neutral chroma.
    const std::vector<char> bytes = readBytes(dir.path() / "left.yuv");
    const cv::Mat view = makeSampleScene({width, height, 5, 1}).left;
    const std::size_t start = luma + 2 * chroma;
    const cv::Mat frameLuma(height, width, CV_8UC1, const_cast<char*>(bytes.data() + start));
    EXPECT_TRUE(identical(frameLuma, view));
    for (std::size_t i = start + luma; i < start + luma + 2 * chroma; ++i)
        ASSERT_EQ(static_cast<unsigned char>(bytes[i]), 128);
    EXPECT_TRUE(fs::exists(dir.path() / "camera.txt"));
}
