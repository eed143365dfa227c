#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "sample/scene.h"
#include "sample/stereo_rig.h"

namespace {

const std::array<const char*, 6> kNames = {"left",          "right",        "depth_left_a",
                                           "depth_right_a", "depth_left_b", "depth_right_b"};

std::array<cv::Mat, 6> imagesOf(const SampleScene& s)
{
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

std::filesystem::path prepareDir(const std::string& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        throw std::runtime_error("cannot create " + dir + ": " + error.message());
    return dir;
}

void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

void writePng(const std::filesystem::path& path, const cv::Mat& image)
{
    bool written = false;
    try {
        written = cv::imwrite(path.string(), image);
    } catch (const cv::Exception&) {
    }
    if (!written)
        throw std::runtime_error("cannot write " + path.string());
}

// Luma = the grey image, then the two neutral chroma planes.
void appendYuv420(std::ofstream& out, const cv::Mat& grey)
{
    for (int y = 0; y < grey.rows; ++y)
        out.write(grey.ptr<char>(y), grey.cols);
    const std::size_t chroma = static_cast<std::size_t>((grey.cols + 1) / 2) * ((grey.rows + 1) / 2);
    const std::vector<char> neutral(2 * chroma, static_cast<char>(128));
    out.write(neutral.data(), static_cast<std::streamsize>(neutral.size()));
}

} // namespace

void writeSampleScene(const SampleScene& scene, const std::string& dir)
{
    const std::filesystem::path root = prepareDir(dir);
    const std::array<cv::Mat, 6> images = imagesOf(scene);
    for (std::size_t i = 0; i < images.size(); ++i)
        writePng(root / (std::string(kNames[i]) + ".png"), images[i]);
    writeText(root / "camera.txt", scene.cameraText);
}

void writeSampleSequence(const SceneOptions& options, int frames, const std::string& dir)
{
    const std::filesystem::path root = prepareDir(dir);
    std::array<std::ofstream, 6> outs;
    for (std::size_t i = 0; i < outs.size(); ++i) {
        const std::filesystem::path path = root / (std::string(kNames[i]) + ".yuv");
        outs[i].open(path, std::ios::binary | std::ios::trunc);
        if (!outs[i])
            throw std::runtime_error("cannot write " + path.string());
    }
    writeText(root / "camera.txt", rigText(rigForWidth(options.width)));
    SceneOptions at = options;
    for (int f = 0; f < frames; ++f, ++at.frame) {
        const SampleScene scene = makeSampleScene(at);
        const std::array<cv::Mat, 6> images = imagesOf(scene);
        for (std::size_t i = 0; i < outs.size(); ++i)
            appendYuv420(outs[i], images[i]);
    }
    for (std::size_t i = 0; i < outs.size(); ++i)
        if (!outs[i].flush())
            throw std::runtime_error("cannot write " + root.string() + "/" + kNames[i] + ".yuv");
}
