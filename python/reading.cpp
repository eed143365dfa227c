#include "reading.h"

#include "camera_argument.h"
#include "input_error.h"
#include "numpy_images.h"
#include "scoring.h"

#include "readers/frame_source.h"
#include "readers/image_file.h"
#include "readers/image_memory.h"
#include "readers/large_allocations.h"
#include "readers/pair_reader.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <memory>
#include <mutex>
#include <optional>

namespace py = pybind11;

namespace {

// How a sequence's frames are given: a size as (width, height) for raw
// .yuv, the format of raw .yuv, and the number of the first frame.
SequenceFormat sequenceFormat(const std::optional<std::pair<int, int>>& size, const std::string& yuvFormat,
                              long long first)
{
    SequenceFormat format;
    if (size) {
        if (size->first <= 0 || size->second <= 0)
            throw py::value_error("size: is (" + std::to_string(size->first) + ", " + std::to_string(size->second) +
                                  "); give the frame size of raw .yuv inputs as (width, height), both above 0");
        format.width = size->first;
        format.height = size->second;
    }
    format.yuvFormat = yuvFormat;
    format.firstFrame = first;
    return format;
}

void warnOf(const std::string& warning)
{
    if (!warning.empty() && PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) != 0)
        throw py::error_already_set(); // warnings turned into errors
}

std::string pathArgument(const std::filesystem::path& path)
{
    return path.string();
}

// One input opened as the command line opens it.
class InputFrames {
public:
    InputFrames(const std::string& path, morvex::Input input, const SequenceFormat& format)
    {
        py::gil_scoped_release unlocked;
        source_ = FrameSource::open(path, input, format);
    }

    bool isVideo() const { return source_->isVideo(); }
    py::object frameCount() const
    {
        return source_->isVideo() ? py::object(py::int_(source_->frameCount())) : py::none();
    }
    std::pair<int, int> size() const { return {source_->frameSize().width, source_->frameSize().height}; }
    bool deeperThan8Bits() const { return source_->deeperThan8Bits(); }

    py::array frame(long long k)
    {
        cv::Mat image;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> hold(lock_);
            image = source_->readFrame(k);
        }
        return imageArray(image);
    }

private:
    std::unique_ptr<FrameSource> source_;
    std::mutex lock_;
};

// The six image inputs of a pair, read as the command line reads them: a
// pair of single images once, a sequence frame by frame.
class PairInputs {
public:
    PairInputs(const std::vector<std::string>& paths, const SequenceFormat& format, std::optional<long long> frames)
    {
        if (paths.size() != 6)
            throw py::value_error("paths: gives " + std::to_string(paths.size()) +
                                  " files; give the six images of the pair in the command line's order");
        std::copy(paths.begin(), paths.end(), paths_.begin());
        if (!isSequence(paths_))
            return;
        py::gil_scoped_release unlocked;
        frames_ = std::make_unique<PairFrames>(paths_, format, frames);
    }

    bool sequence() const { return frames_ != nullptr; }
    long long first() const { return frames_ ? frames_->first() : 0; }
    long long count() const { return frames_ ? frames_->count() : 1; }

    py::object warning() const
    {
        const std::string text = frames_ ? frames_->warning() : stillsWarning_;
        return text.empty() ? py::none() : py::object(py::str(text));
    }

    // Frame k's images; the GIL must not be held.
    morvex::PairImages images(long long k)
    {
        if (frames_)
            return frames_->read(k);
        std::lock_guard<std::mutex> hold(lock_);
        if (k != 0)
            throw morvex::Error(morvex::Input::None, "a pair of single images has frame 0 only, not frame " +
                                                         std::to_string(k));
        if (stills_.viewLeft.empty())
            stills_ = readPairImages(paths_, stillsWarning_);
        return stills_;
    }

    py::tuple read(long long k)
    {
        morvex::PairImages pair;
        {
            py::gil_scoped_release unlocked;
            pair = images(k);
        }
        return py::make_tuple(imageArray(pair.viewLeft), imageArray(pair.viewRight), imageArray(pair.depthLeftA),
                              imageArray(pair.depthRightA), imageArray(pair.depthLeftB),
                              imageArray(pair.depthRightB));
    }

    PairOutput score(long long k, py::handle camera, bool keepMaps)
    {
        const morvex::Camera cameraValues = cameraArgument(camera);
        morvex::PairOptions options;
        options.view.disparityErrors = true;
        options.view.keepMaps = keepMaps;
        options.parallelViews = false; // the frames are the parallel work
        morvex::PairResult result;
        {
            py::gil_scoped_release unlocked;
            const morvex::PairImages pair = images(k);
            try {
                result = morvex::score(pair, cameraValues, options);
            } catch (const morvex::Error& e) {
                InputPaths paths;
                std::copy(paths_.begin(), paths_.end(), paths.begin());
                failWithPath(e, paths);
            }
        }
        return pairOutput(result, keepMaps, false);
    }

private:
    InputPaths paths_;
    std::unique_ptr<PairFrames> frames_;
    std::mutex lock_;
    morvex::PairImages stills_;
    std::string stillsWarning_;
};

} // namespace

void bindReading(py::module_& m)
{
    m.def(
        "read_image",
        [](const std::filesystem::path& path, const std::string& input) {
            const morvex::Input role = imageInputArgument(input, "input");
            bool deeper = false;
            cv::Mat image;
            {
                py::gil_scoped_release unlocked;
                image = loadGreyImage(pathArgument(path), role, deeper);
            }
            if (deeper)
                warnOf(deepSamplesWarning(pathArgument(path), role, cv::countNonZero(image) == 0));
            return imageArray(image);
        },
        py::arg("path"), py::arg("input") = "left",
        R"(Reads an image file as the command line reads it: a 2-D uint8 array of grey
values (colour by the command line's weighted sum, more than 8 bits per sample
by their high 8 bits, with a UserWarning, turned upright by an EXIF
orientation). `input` is the role it is read for (left, right, depth_left_a,
..., depth_right_b): a depth map must be grey. Raises morvex.InputError.)");

    m.def(
        "_keep_large_allocations",
        [] {
            keepLargeAllocations();
            useImageMemory();
        },
        "Tunes the allocators of this process for reading and scoring many frames, as the command line does; "
        "for morvex-eval's own process, before it makes any image.");
    m.def(
        "pattern_file",
        [](const std::string& pattern, long long k, const std::string& input) {
            return patternFile(pattern, imageInputArgument(input, "input"), k);
        },
        py::arg("pattern"), py::arg("k"), py::arg("input") = "left",
        "The file of frame k of a pattern of image files such as left_%04d.png, as the command line names it.");

    py::class_<InputFrames>(m, "InputFrames", R"(The frames of one input, opened as the command line opens it
(morvex.open_input). Keeps the file open between frames.)")
        .def_property_readonly("is_video", &InputFrames::isVideo,
                               "False for a single image, which stands for every frame.")
        .def_property_readonly("frame_count", &InputFrames::frameCount,
                               "One past the last frame (a pattern's first counts from `first`); None for a "
                               "single image.")
        .def_property_readonly("size", &InputFrames::size, "(width, height) of every frame.")
        .def_property_readonly("deeper_than_8_bits", &InputFrames::deeperThan8Bits,
                               "Whether an image read so far had more than 8 bits per sample.")
        .def("frame", &InputFrames::frame, py::arg("k"),
             "Frame k as a 2-D uint8 array (a video's luma plane). Raises morvex.InputError.");
    m.def(
        "open_input",
        [](const std::filesystem::path& path, const std::string& input, std::optional<std::pair<int, int>> size,
           const std::string& yuvFormat, long long first) {
            const morvex::Input role = imageInputArgument(input, "input");
            return std::make_unique<InputFrames>(pathArgument(path), role, sequenceFormat(size, yuvFormat, first));
        },
        py::arg("path"), py::arg("input") = "left", py::arg("size") = py::none(), py::arg("yuv_format") = "420",
        py::arg("first") = 0,
        R"(Opens one input as the command line does: a raw .yuv file (its frame size as
(width, height) and its yuv_format: 420, 400, 422 or 444), a .y4m file, a
printf-style pattern of numbered image files such as left_%04d.png (counted
from frame `first`), or a single image. Returns a morvex.InputFrames. Raises
morvex.InputError, in the command line's words.)");

    py::class_<PairInputs>(m, "PairInputs", R"(The six images of a pair, read as the command line reads them.

PairInputs(paths, size=None, yuv_format="420", first=0, frames=None)

paths are the six image inputs in the command line's order (left, right,
depth_left_a, depth_right_a, depth_left_b, depth_right_b). When one of them is
a video, the pair is a sequence: frames `first` to first + count - 1, where
count is `frames` or all that every video holds; otherwise it has frame 0
only. Opening checks what the command line checks before scoring; any number
of threads may read and score frames at once. Raises morvex.InputError.)")
        .def(py::init([](const std::vector<std::filesystem::path>& paths, std::optional<std::pair<int, int>> size,
                         const std::string& yuvFormat, long long first, std::optional<long long> frames) {
                 std::vector<std::string> texts;
                 for (const auto& path : paths)
                     texts.push_back(pathArgument(path));
                 return std::make_unique<PairInputs>(texts, sequenceFormat(size, yuvFormat, first), frames);
             }),
             py::arg("paths"), py::arg("size") = py::none(), py::arg("yuv_format") = "420", py::arg("first") = 0,
             py::arg("frames") = py::none())
        .def_property_readonly("is_sequence", &PairInputs::sequence)
        .def_property_readonly("first", &PairInputs::first)
        .def_property_readonly("count", &PairInputs::count)
        .def_property_readonly("warning", &PairInputs::warning,
                               "The command line's warning about the frames read so far (an input with more "
                               "than 8 bits per sample), or None.")
        .def("read", &PairInputs::read, py::arg("k"), "Frame k's six images, as 2-D uint8 arrays.")
        .def("score", &PairInputs::score, py::arg("k"), py::arg("camera"), py::arg("maps") = false,
             R"(Reads and scores frame k with the camera (a morvex.Camera, a camera file or
the nine values), without holding the interpreter. Returns a morvex.Result;
with maps=True each view's maps are kept (for morvex.error_heatmap). Issues no
warning: the result's `warning` holds the command line's. Raises
morvex.InputError, whose message is the command line's for that frame.)");
}
