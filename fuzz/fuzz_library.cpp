// The library's calls on small images, float maps and cameras made from the
// bytes: checkPair, score, depthToDisparity, disparityToDepth, evaluateView
// (its maps at any address too), renderMap and errorHeatmap. Bad input may
// throw morvex::Error; nothing may crash, and an error is NaN exactly when no
// pixel was counted.
#include <morvex/morvex.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t next() { return size_ == 0 ? 0 : data_[at_++ % size_]; }
    bool left() const { return at_ < size_; }

    float rawFloat()
    {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits = bits << 8 | next();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Values that reach the edges of what the library takes.
float specialValue(std::uint8_t which)
{
    const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(),
                            2147483648.0f,
                            -2147483648.0f,
                            2147483904.0f,
                            4194304.0f,
                            -2097152.5f,
                            std::numeric_limits<float>::denorm_min(),
                            -0.0f,
                            0.5f,
                            -1.5f,
                            1e30f,
                            0.0f};
    return values[which % (sizeof values / sizeof values[0])];
}

// A camera: mostly values of a usable size (depths 1..256, a focal length
// and positions that move pixels by up to a few times the width), or any
// float, or a special value.
morvex::Camera cameraOf(Bytes& bytes)
{
    float v[9];
    for (int i = 0; i < 9; ++i) {
        const std::uint8_t kind = bytes.next();
        if (kind < 200) {
            const float step = i < 4 ? 2.0f : i == 4 ? 4.0f : 0.5f;
            v[i] = (i < 5 ? 1.0f : -32.0f) + static_cast<float>(bytes.next()) * step;
        } else if (kind < 230) {
            v[i] = bytes.rawFloat();
        } else {
            v[i] = specialValue(bytes.next());
        }
    }
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]};
}

cv::Mat imageOf(Bytes& bytes, cv::Size size)
{
    cv::Mat image(size, CV_8U);
    const std::uint8_t mode = bytes.next();
    for (int r = 0; r < size.height; ++r)
        for (int c = 0; c < size.width; ++c)
            image.at<std::uint8_t>(r, c) = mode < 128 ? bytes.next() : static_cast<std::uint8_t>(mode + r * 3 + c);
    return image;
}

// The map in a buffer that starts `offset` bytes past an aligned address.
cv::Mat atOffset(const cv::Mat& map, int offset, std::vector<unsigned char>& buffer)
{
    if (offset == 0)
        return map;
    buffer.assign(map.total() * map.elemSize() + 16, 0);
    cv::Mat shifted(map.size(), map.type(), buffer.data() + offset);
    map.copyTo(shifted);
    return shifted;
}

void checkView(const morvex::ViewResult& result)
{
    if ((result.countedPixels == 0) != std::isnan(result.error))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes bytes(data, size);
    const cv::Size imageSize(8 + bytes.next() % 40, 8 + bytes.next() % 24);
    const std::uint8_t flags = bytes.next();
    const morvex::Camera camera = cameraOf(bytes);
    morvex::PairImages pair;
    cv::Mat* const images[] = {&pair.viewLeft,    &pair.viewRight,  &pair.depthLeftA,
                               &pair.depthRightA, &pair.depthLeftB, &pair.depthRightB};
    for (cv::Mat* image : images)
        *image = imageOf(bytes, imageSize);

    morvex::PairOptions options;
    options.parallelViews = false;
    options.view.vectorCode = (flags & 1) != 0;
    options.view.keepMaps = (flags & 2) != 0;
    options.view.disparityErrors = (flags & 4) != 0;
    try {
        morvex::checkPair(pair, camera);
        const morvex::PairResult result = morvex::score(pair, camera, options);
        checkView(result.left);
        checkView(result.right);
    } catch (const morvex::Error&) {
    }

    const char side = (flags & 8) != 0 ? 'L' : 'R';
    cv::Mat view, dispA, dispB;
    pair.viewLeft.convertTo(view, CV_32F);
    dispA = morvex::depthToDisparity(pair.depthLeftA, camera, side);
    dispB = morvex::depthToDisparity(pair.depthLeftB, camera, side);
    // Some pixels of any of the three maps get values of their own.
    while (bytes.left()) {
        const std::uint8_t which = bytes.next();
        cv::Mat& map = which % 3 == 0 ? view : which % 3 == 1 ? dispA : dispB;
        const int r = bytes.next() % imageSize.height;
        const int c = bytes.next() % imageSize.width;
        map.at<float>(r, c) = which & 0x80 ? bytes.rawFloat() : specialValue(bytes.next());
    }
    morvex::disparityToDepth(dispB, camera, side);

    std::vector<unsigned char> buffers[4];
    const cv::Mat odd[] = {atOffset(view, flags >> 4 & 3, buffers[0]), atOffset(dispA, flags >> 6 & 1, buffers[1]),
                           atOffset(dispB, flags >> 7 & 1, buffers[2])};
    try {
        const morvex::ViewResult result = morvex::evaluateView(odd[0], odd[1], odd[2], options.view);
        checkView(result);
        if (options.view.keepMaps) {
            morvex::renderMap(atOffset(result.maps.matSelfWeight, 2, buffers[3]), true);
            morvex::errorHeatmap(pair.viewLeft, result.maps, (flags & 16) != 0 ? 0.0f : specialValue(flags));
        }
    } catch (const morvex::Error&) {
    }
    return 0;
}
