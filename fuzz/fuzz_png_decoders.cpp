// The PNG reader's own decoding against its libpng path on the same bytes:
// wherever either decodes, both give the same pixels and flags, and wherever
// one refuses, so does the other, with the same message.
#include "readers/png_reader.h"
#include "fuzz_input.h"

#include <cstdlib>

namespace {

struct Outcome {
    cv::Mat image;
    bool sixteenBitFile = false, coloursDiffer = false, truncated = false;
    std::string message;
};

Outcome decode(const std::string& path, bool keepSixteenBits, PngDecoder decoder)
{
    Outcome o;
    try {
        o.image = readGreyPng(path, keepSixteenBits, o.sixteenBitFile, &o.coloursDiffer, decoder);
    } catch (const PngError& e) {
        o.message = e.what();
        o.truncated = e.truncated;
    }
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = writeInput(data, size, "decoders.png");
    for (const bool keepSixteenBits : {false, true}) {
        const Outcome fast = decode(path, keepSixteenBits, PngDecoder::Fastest);
        const Outcome slow = decode(path, keepSixteenBits, PngDecoder::Libpng);
        if (fast.message != slow.message || fast.truncated != slow.truncated || fast.image.empty() != slow.image.empty())
            std::abort();
        if (slow.image.empty())
            continue;
        if (fast.image.type() != slow.image.type() || fast.image.size() != slow.image.size() ||
            cv::norm(fast.image, slow.image, cv::NORM_INF) != 0.0 || fast.sixteenBitFile != slow.sixteenBitFile ||
            fast.coloursDiffer != slow.coloursDiffer)
            std::abort();
    }
    return 0;
}
