// Y4M and raw YUV. The first byte picks the reader; for raw YUV the next
// three give the frame size and format that the command line would.
#include "readers/frame_source_kinds.h"
#include "fuzz_input.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const bool y4m = data[0] & 1;
    SequenceFormat format;
    format.width = 1 + data[1] % 64;
    format.height = 1 + data[2] % 64;
    static const char* const formats[] = {"420", "400", "422", "444"};
    format.yuvFormat = formats[data[3] % 4];
    data += 4;
    size -= 4;
    try {
        const std::string path = writeInput(data, size, y4m ? "input.y4m" : "input.yuv");
        const std::unique_ptr<FrameSource> source = y4m ? openY4m(path, morvex::Input::LeftView) : openRawYuv(path, morvex::Input::LeftView, format);
        const long long count = source->frameCount();
        for (long long k : {-1LL, 0LL, count / 2, count - 1, count, count + 1}) {
            try {
                const cv::Mat frame = source->readFrame(k);
                if (frame.size() != source->frameSize() || frame.type() != CV_8UC1)
                    std::abort();
            } catch (const morvex::Error&) {
            }
        }
    } catch (const morvex::Error&) {
    }
    return 0;
}
