#pragma once

// morvex: the score of depth maps of a stereo pair.
//
// Every function takes what it needs as arguments and keeps nothing between
// calls: any number of threads may call at once, with any image sizes and
// cameras. Apart from Camera::fromFile, which reads a camera file, nothing
// here opens a file, writes to a stream or reads the environment.
//
//     const morvex::Camera camera = morvex::Camera::fromFile("camera.txt");
//     const morvex::PairResult result = morvex::score({left, right, depthLeftA, depthRightA,
//                                                      depthLeftB, depthRightB}, camera);
//     std::cout << "MORVEX Score: " << result.scoreText() << "\n";

#include <opencv2/core.hpp>

#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvex {

// The version of morvex, such as "1.0.0".
const char* version();

// The seven inputs of a pair, in the order of the command line; errors name
// the input they are about.
enum class Input { LeftView, RightView, DepthLeftA, DepthRightA, DepthLeftB, DepthRightB, CameraFile, None };

// What an input is, for messages: "left view", "depth map of the right view, set B", "camera file".
const char* inputRole(Input input);

// Input that cannot be scored. problem() says what is wrong ("is 320x200 but
// the left view is 320x240"), input() which input it is about and path() its
// file, where known; what() is the whole message: "PATH (ROLE): PROBLEM"
// where the path is known, "ROLE: PROBLEM" otherwise, and the problem alone
// for Input::None.
class Error : public std::runtime_error {
public:
    Error(Input input, const std::string& problem, const std::string& path = std::string());
    Input input() const { return input_; }
    const std::string& problem() const { return problem_; }
    const std::string& path() const { return path_; }

private:
    Input input_;
    std::string problem_;
    std::string path_;
};

// The camera values of a stereo pair: the nine numbers of a camera file, in
// its order. Depths and positions share one unit; focal length and principal
// points are in pixels of the views.
struct Camera {
    float nearDepthLeft = 0.0f;       // the depth that value 255 of a left depth map stands for
    float farDepthLeft = 0.0f;        // the depth that value 0 of a left depth map stands for
    float nearDepthRight = 0.0f;
    float farDepthRight = 0.0f;
    float focalLength = 0.0f;
    float principalPointLeft = 0.0f;  // horizontal
    float principalPointRight = 0.0f;
    float cameraPosLeft = 0.0f;       // position along the baseline
    float cameraPosRight = 0.0f;

    // The virtual middle camera and each camera's baseline to it, in float.
    float cameraPosMiddle() const;
    float baselineLeft() const;
    float baselineRight() const;

    // What makes these values unusable ("focal length is nan, not a finite
    // number", "near depth of the left camera is 0; depths must be above 0",
    // ...), or "" when they are fine.
    std::string problem() const;

    // Reads and checks a camera file: nine numbers separated by white space.
    // Throws Error naming the path as the camera file.
    static Camera fromFile(const std::string& path);

    // The same from the text of a camera file. Throws Error.
    static Camera fromText(const std::string& text);

    // The camera of nine values in camera-file order, checked as a camera
    // file is. Throws Error for another count or values that problem() refuses.
    static Camera fromValues(const std::vector<float>& values);
};

// "64x48"
std::string sizeText(long long width, long long height);

// What is wrong with an image of `size` in a pair whose left view (named
// leftName in the message) has leftSize: "is 320x200 but the left view is
// 320x240", "is 4x4; images must be at least 8 pixels wide and high"; ""
// when the metric can work at it.
std::string imageSizeProblem(cv::Size size, cv::Size leftSize, const std::string& leftName = "the left view");

// The intermediate maps of one view, the size of the view (CV_32F): the
// error and weight maps of the two passes, and 1 where a pass's term is
// pooled, else 0.
struct ViewMaps {
    cv::Mat matSelfSim, matInvadSim, matSelfWeight, matInvadWeight, matValidSelf, matValidInvad;
};

// The result of one view.
struct ViewResult {
    float error = 0.0f;              // weighted mean squared error, on a 0..1 grey scale
    long long countedPixels = 0;     // error terms pooled: a pixel counts once per pass that compares it
    long long disagreeingPixels = 0; // pixels whose disparities from set A and set B differ
    // The classic disparity errors of set B against set A, over every pixel
    // of the view; counts and a sum, so that frames pool exactly.
    long long pixels = 0;            // pixels of the view
    long long differOver1 = 0;       // pixels whose disparities differ by more than 1
    long long differOver2 = 0;       // ... by more than 2
    double absDifferenceSum = 0.0;   // the sum of |disparity B - disparity A|
    // The shares and the mean; NaN when they were not counted.
    double shareOver1() const { return share(static_cast<double>(differOver1)); }
    double shareOver2() const { return share(static_cast<double>(differOver2)); }
    double meanAbsDifference() const { return share(absDifferenceSum); }
    double share(double count) const
    {
        return pixels ? count / static_cast<double>(pixels) : std::numeric_limits<double>::quiet_NaN();
    }
    ViewMaps maps;                   // empty unless ViewOptions::keepMaps
};

// The result of a stereo pair.
struct PairResult {
    ViewResult left, right;
    float score = 0.0f;              // 20 ln(1 / sqrt(mean of the two errors)); inf for identical sets
    std::string scoreText() const;   // as the "MORVEX Score:" line prints it: "51.4085", "inf"
    // When no disparity of either view differs: the pixels whose depth values
    // differ between sets A and B all the same, differences that vanish in
    // whole-pixel disparities (the score is then inf). 0 otherwise.
    long long vanishedDifferences = 0;
    // A warning about the result, for the user to read, or "": "sets A and B
    // differ in N pixels of their depth maps, but ...".
    std::string warning() const;
};

// Receives the lines that report a view's phases: "<<Preparation>>",
// "Time: 0.006(sec)", ... eight per view; score() puts "Left view:" and
// "Right view:" before each view's eight.
using PhaseLines = std::function<void(const std::string& line)>;

// Receives a map to show (CV_32F), its window name ("matSelfSim",
// "matInvadSim", "matSelfWeight", "matInvadWeight") and whether it is shown
// over its own range (the weights) or over 0..1 (the errors); renderMap
// makes its display image.
using MapDisplay = std::function<void(const cv::Mat& map, const std::string& windowName, bool autoRange)>;

// What a view's computation does besides its result.
struct ViewOptions {
    bool keepMaps = false;       // fill ViewResult::maps
    PhaseLines phaseLines;       // report the phases, when set
    MapDisplay showMap;          // show the maps, when set (six calls per view)
    bool vectorCode = true;      // use the processor's vector code where it has it; off gives the same bits
    bool disparityErrors = false; // fill ViewResult's disparity errors (pixels, differOver1, ...), at the
                                  // cost of a pass over the depth maps, about a tenth of the view's time
};

// What a pair's computation does besides its result.
struct PairOptions {
    ViewOptions view;
    bool parallelViews = true;   // the two views on two threads (not while phases or maps are shown)
};

// The six images of a stereo pair, 8-bit grey (CV_8UC1), all of one size of
// at least 8x8 pixels: the views, then the depth maps (255 = near) of sets A
// and B.
struct PairImages {
    cv::Mat viewLeft, viewRight;
    cv::Mat depthLeftA, depthRightA, depthLeftB, depthRightB;
};

// The score of a pair. Throws Error for images of another type or size, an
// unusable camera, a view of which no pixel can be compared, or a view whose
// camera turns all 256 depth values into one disparity.
PairResult score(const PairImages& images, const Camera& camera, const PairOptions& options = {});

// Throws the Error that score() would throw for these inputs, without
// computing the score: the camera first, then the images in order, then
// whether each view has a pixel that can be compared, then whether each
// view's depth values give more than one disparity.
void checkPair(const PairImages& images, const Camera& camera);

// A depth map (CV_8UC1) of side 'L' or 'R' as whole-pixel disparities
// towards the middle camera (CV_32F).
cv::Mat depthToDisparity(const cv::Mat& depth, const Camera& camera, char side);

// The inverse of depthToDisparity: for a float disparity map (CV_32FC1) of
// side 'L' or 'R', the depth map (CV_8UC1) whose whole-pixel disparities are
// the nearest to it. Of the depth values that give that disparity, the one
// whose unrounded disparity is nearest is taken; ties go to the lower value
// (the farther depth), and NaN gives 0.
cv::Mat disparityToDepth(const cv::Mat& disparity, const Camera& camera, char side);

// The metric of one view on disparities of your own: the view's grey values
// 0..255 and whole-pixel disparities of sets A and B, CV_32FC1 maps of one
// size of at least 8x8. The error is NaN when no pixel can be compared.
// Throws Error for a value in any of the three maps that is NaN, infinite or
// of magnitude above 2^31 (2147483648), naming the map and the first such
// pixel: "dispA: pixel (row 5, column 7) is inf; ...". The maps may start at
// any address (a misaligned map is read from a copy).
ViewResult evaluateView(const cv::Mat& view, const cv::Mat& dispA, const cv::Mat& dispB,
                        const ViewOptions& options = {});

// The score from the two views' errors, in float.
float combineViewErrors(float errorLeft, float errorRight);

// A float as a C++ stream prints it by default: six significant digits, no
// trailing zeros, "inf", "nan".
std::string formatFloat(float value);

// A float map stretched over 0..255 into an 8-bit grey image: over its own
// minimum and maximum when autoRange is set, otherwise over 0..1. Values are
// truncated, not rounded; the error maps use 0..1, the weight maps their own range.
cv::Mat renderMap(const cv::Mat& map, bool autoRange);

// The weighted error that the top colour of a heat map stands for unless
// asked otherwise, the same for every image: 1/16, a difference of 64 grey
// levels at full weight. Larger errors get the top colour too.
constexpr float kHeatmapTop = 1.0f / 16.0f;

// A view (CV_8UC1) in grey with its weighted error laid over it in colour
// (CV_8UC3), from the maps of its ViewResult, and below it a colour bar
// labelled with the errors it stands for (30 rows; the picture is at least
// 256 pixels wide). `top` is the error given the top colour; 0 takes the
// 95th percentile of the image's own coloured errors.
cv::Mat errorHeatmap(const cv::Mat& view, const ViewMaps& maps, float top = kHeatmapTop);

} // namespace morvex
