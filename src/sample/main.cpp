// morvex-sample: writes a synthetic stereo scene with known depth, so the
// tool can be tried and benchmarked without any downloaded data.
#include <cstdio>
#include <exception>
#include <string>

#include "sample/scene.h"

namespace {

const char* const kUsage =
    "Usage: morvex-sample OUTDIR [--size WxH] [--seed N] [--frames N]\n"
    "\n"
    "Writes a synthetic stereo scene with known depth into OUTDIR: the views left.png and\n"
    "right.png, set A (the true depths) and set B (a flawed estimate: displaced and blurred\n"
    "edges, noise, holes) as depth_{left,right}_{a,b}.png, and camera.txt; with --frames N,\n"
    "N frames of a moving scene as raw YUV 4:2:0 .yuv files instead.\n"
    "\n"
    "Options:\n"
    "  --size WxH    image size, 8..16384 each way (default 640x480)\n"
    "  --seed N      scene variant (default 1)\n"
    "  --frames N    number of frames of the moving scene\n"
    "  -h, --help    print this help and exit\n"
    "  --version     print the version and exit\n"
    "\n"
    "Example:\n"
    "  morvex-sample scene --size 1920x1080\n";

constexpr int kMinSide = 8, kMaxSide = 16384;

struct UsageError {
    std::string message;
};

struct Arguments {
    std::string outDir;
    SceneOptions scene;
    int frames = 0; // 0: a single PNG frame
    bool help = false;
    bool version = false;
};

// Plain decimal digits only: no sign, no spaces, no overflow.
unsigned long long parseNumber(const std::string& text, unsigned long long max, const std::string& what)
{
    if (text.empty() || text.size() > 20)
        throw UsageError{"bad " + what + " '" + text + "'"};
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            throw UsageError{"bad " + what + " '" + text + "'"};
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > max)
            throw UsageError{what + " '" + text + "' is too large"};
    }
    return value;
}

void parseSize(const std::string& text, SceneOptions& scene)
{
    const std::size_t cross = text.find('x');
    if (cross == std::string::npos)
        throw UsageError{"bad size '" + text + "' (expected WxH)"};
    const auto width = parseNumber(text.substr(0, cross), kMaxSide, "width");
    const auto height = parseNumber(text.substr(cross + 1), kMaxSide, "height");
    if (width < kMinSide || height < kMinSide)
        throw UsageError{"size '" + text + "' is too small (at least 8x8)"};
    scene.width = static_cast<int>(width);
    scene.height = static_cast<int>(height);
}

Arguments parseArguments(int argc, char** argv)
{
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            (arg == "--version" ? args.version : args.help) = true;
            return args;
        }
        if (arg == "--size" || arg == "--seed" || arg == "--frames") {
            if (i + 1 == argc)
                throw UsageError{arg + " needs a value"};
            const std::string value = argv[++i];
            if (arg == "--size") {
                parseSize(value, args.scene);
            } else if (arg == "--seed") {
                args.scene.seed = static_cast<unsigned>(parseNumber(value, 0xFFFFFFFFull, "seed"));
            } else {
                args.frames = static_cast<int>(parseNumber(value, 1000000, "frame count"));
                if (args.frames == 0)
                    throw UsageError{"--frames needs at least 1"};
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option '" + arg + "'"};
        } else if (args.outDir.empty()) {
            args.outDir = arg;
        } else {
            throw UsageError{"unexpected argument '" + arg + "'"};
        }
    }
    if (args.outDir.empty())
        throw UsageError{"missing OUTDIR (see --help)"};
    return args;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    try {
        args = parseArguments(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "morvex-sample: %s\n", error.message.c_str());
        return 2;
    }
    if (args.help || args.version) {
        std::fputs(args.help ? kUsage : "morvex-sample " MORVEX_VERSION "\n", stdout);
        return 0;
    }
    try {
        if (args.frames > 0) {
            writeSampleSequence(args.scene, args.frames, args.outDir);
            std::printf("wrote %d frames of %dx%d (4:2:0) to %s\n", args.frames, args.scene.width, args.scene.height,
                        args.outDir.c_str());
        } else {
            writeSampleScene(makeSampleScene(args.scene), args.outDir);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvex-sample: %s\n", error.what());
        return 1;
    }
    return 0;
}
