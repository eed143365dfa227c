// YUV4MPEG2 (.y4m): a header line "YUV4MPEG2 W.. H.. C.. ..." then frames,
// each a "FRAME ..." line followed by the planes, luma first.

#include "readers/frame_source_kinds.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

namespace {

constexpr std::size_t kMaxLine = 1 << 16;

struct Line {
    std::string text; // without its '\n'
    bool complete;    // false when the file ends or kMaxLine bytes pass before a '\n'
};

Line readLine(std::ifstream& in, long long offset)
{
    Line line{"", false};
    char chunk[256];
    in.clear();
    in.seekg(offset);
    while (line.text.size() < kMaxLine) {
        in.read(chunk, sizeof chunk);
        const std::string got(chunk, static_cast<std::size_t>(in.gcount()));
        const std::size_t end = got.find('\n');
        line.text += got.substr(0, end);
        if (end != std::string::npos || got.empty()) {
            line.complete = end != std::string::npos;
            break;
        }
    }
    return line;
}

bool startsWithWord(const std::string& text, const std::string& word)
{
    return text.compare(0, word.size(), word) == 0 && (text.size() == word.size() || text[word.size()] == ' ');
}

bool allDigits(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

struct Y4mHeader {
    long long width = 0, height = 0;
    std::string format = "420";
};

// A W or H value: a positive whole number of at most kMaxSide.
long long headerSide(const PlanarFile& file, const std::string& token)
{
    const std::string digits = token.substr(1);
    const long long side = allDigits(digits) && digits.size() <= 7 ? std::stoll(digits) : 0;
    if (side < 1 || side > kMaxSide)
        file.fail("has a bad YUV4MPEG2 header: '" + token + "' is not a frame " +
                  (token[0] == 'W' ? "width" : "height") + " from 1 to " + std::to_string(kMaxSide));
    return side;
}

// The chroma format of a C parameter, as chromaBytes() names it.
std::string headerFormat(const PlanarFile& file, const std::string& token)
{
    const std::string tag = token.substr(1);
    if (tag == "420" || tag == "420jpeg" || tag == "420paldv" || tag == "420mpeg2")
        return "420";
    if (tag == "mono")
        return "400";
    if (tag == "422" || tag == "444" || tag == "411" || tag == "444alpha")
        return tag;
    // Deeper samples are written as C420p10, C444p12, Cmono16, ...; some
    // writers name 8-bit ones so too.
    for (const std::string layout : {"420p", "422p", "444p", "mono"}) {
        const std::string bits = tag.substr(std::min(layout.size(), tag.size()));
        if (tag.compare(0, layout.size(), layout) == 0 && bits == "8")
            return layout == "mono" ? "400" : layout.substr(0, 3);
        if (tag.compare(0, layout.size(), layout) == 0 && allDigits(bits) && bits.size() <= 2)
            file.fail("has " + bits + "-bit samples (" + token + "); only 8-bit Y4M is supported");
    }
    file.fail("has chroma format '" + token +
              "', which is not one of the supported 8-bit formats C420, C422, C444, C411, C444alpha and Cmono");
}

Y4mHeader parseHeader(const PlanarFile& file, const std::string& line)
{
    std::istringstream tokens(line);
    std::string token;
    tokens >> token; // the signature, checked by the caller
    Y4mHeader header;
    while (tokens >> token) {
        if (token[0] == 'W' || token[0] == 'H')
            (token[0] == 'W' ? header.width : header.height) = headerSide(file, token);
        else if (token[0] == 'C')
            header.format = headerFormat(file, token);
    }
    if (header.width == 0 || header.height == 0)
        file.fail(std::string("has a bad YUV4MPEG2 header: it gives no frame ") +
                  (header.width == 0 ? "width (W)" : "height (H)"));
    return header;
}

class Y4mSource final : public FrameSource {
public:
    Y4mSource(const std::string& path, morvex::Input input) : path_(path), input_(input), file_(path, input)
    {
        const Line line = readLine(file_.stream(), 0);
        if (!startsWithWord(line.text, "YUV4MPEG2"))
            file_.fail("is not a YUV4MPEG2 (.y4m) file: it does not start with 'YUV4MPEG2 '");
        if (!line.complete)
            file_.fail("has a bad YUV4MPEG2 header: no end of line within its first " + std::to_string(kMaxLine) +
                       " bytes");
        const Y4mHeader header = parseHeader(file_, line.text);
        size_ = cv::Size(static_cast<int>(header.width), static_cast<int>(header.height));
        frameBytes_ = header.width * header.height + chromaBytes(header.format, header.width, header.height);
        indexFrames(static_cast<long long>(line.text.size()) + 1);
    }

    bool isVideo() const override { return true; }
    long long frameCount() const override { return static_cast<long long>(planeOffsets_.size()); }
    cv::Size frameSize() const override { return size_; }

    cv::Mat readFrame(long long k) override
    {
        if (k < 0 || k >= frameCount())
            failNoSuchFrame(path_, input_, k, frameCount());
        return file_.readLuma(planeOffsets_[static_cast<std::size_t>(k)], size_, k);
    }

private:
    // Walks the frame headers, seeking over the planes, so that reading a
    // frame later is a single seek.
    void indexFrames(long long offset)
    {
        const long long end = file_.byteSize();
        while (offset < end) {
            const std::string frame = "frame " + std::to_string(planeOffsets_.size());
            const std::string at = " (at byte " + std::to_string(offset) + ")";
            const Line line = readLine(file_.stream(), offset);
            const bool cutInsideFrameWord = !line.complete && std::string("FRAME").rfind(line.text, 0) == 0;
            if (!startsWithWord(line.text, "FRAME") && !cutInsideFrameWord)
                file_.fail(frame + at + " does not start with a FRAME line; do the header's W, H and C match the data?");
            if (!line.complete)
                file_.fail(frame + at + " is truncated: its FRAME line has no end");
            const long long planes = offset + static_cast<long long>(line.text.size()) + 1;
            if (end - planes < frameBytes_)
                file_.fail(frame + " is truncated: it needs " + std::to_string(frameBytes_) + " bytes of " +
                           morvex::sizeText(size_.width, size_.height) + " planes but only " +
                           std::to_string(end - planes) + " remain");
            planeOffsets_.push_back(planes);
            offset = planes + frameBytes_;
        }
        if (planeOffsets_.empty())
            file_.fail("has a YUV4MPEG2 header but no frames");
    }

    std::string path_;
    morvex::Input input_;
    PlanarFile file_;
    cv::Size size_;
    long long frameBytes_ = 0;
    std::vector<long long> planeOffsets_;
};

} // namespace

std::unique_ptr<FrameSource> openY4m(const std::string& path, morvex::Input input)
{
    return std::make_unique<Y4mSource>(path, input);
}
