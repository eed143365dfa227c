#include "readers/png_fast_decode.h"

#include "readers/png_row_filters.h"

#include <libdeflate.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

const std::uint64_t kMaxChunkLength = 0x7fffffff;

// png_set_rgb_to_gray's weights of red and green, 0.299 and 0.587, in the
// 15-bit fixed point libpng turns them into, truncated, through its
// 1/100000 units; blue gets the rest, so that the three sum to 1 and a grey
// pixel stays as it is.
constexpr std::uint32_t fixedWeight(std::uint32_t hundredThousandths)
{
    return (hundredThousandths << 15) / 100000;
}
const std::uint32_t kRed = fixedWeight(29900), kGreen = fixedWeight(58700), kBlue = 32768 - kRed - kGreen;

std::uint32_t bigEndian(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

bool isLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Chunks after the image data that libpng skips without a word that could
// end the reading: text, the time, and ancillary chunks it does not know.
// The ones it knows otherwise (and eXIf, whose orientation counts there)
// leave the file to libpng.
bool skippedAfterImageData(const unsigned char* name)
{
    static const char* const known[] = {"bKGD", "cHRM", "eXIf", "gAMA", "hIST", "iCCP", "oFFs",
                                        "pCAL", "pHYs", "sBIT", "sCAL", "sPLT", "sRGB", "tRNS"};
    return std::none_of(std::begin(known), std::end(known),
                        [&](const char* k) { return std::memcmp(name, k, 4) == 0; });
}

// libpng's longest chunk other than IDAT.
std::uint64_t chunkLimit(const PngImageData& data)
{
    return data.chunkLimit > 0 ? std::min<std::uint64_t>(data.chunkLimit, kMaxChunkLength) : kMaxChunkLength;
}

// libpng's longest IDAT chunk (png_check_chunk_length): what the rows
// could need with zlib's overhead, or its limit for any chunk if larger.
std::uint64_t idatLimit(const PngImageData& data, int channels)
{
    std::uint64_t rowFactor = std::uint64_t(data.width) * channels * (data.bitDepth > 8 ? 2 : 1) + 1;
    std::uint64_t limit =
        data.height > 0xffffffffu / rowFactor ? kMaxChunkLength : std::uint64_t(data.height) * rowFactor;
    rowFactor = std::min<std::uint64_t>(rowFactor, 32566);
    limit = std::min(limit + 6 + 5 * (limit / rowFactor + 1), kMaxChunkLength);
    return std::max(chunkLimit(data), limit);
}

// Asks for the pages of a fresh buffer at once: one call instead of a
// fault for each page as inflate first writes it, which costs far more in a
// virtual machine. Only a hint; nothing changes where it is not supported.
void populate(void* start, std::size_t length)
{
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t page = 4096, from = (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(page - 1);
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(start) + length) & ~(page - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)start, (void)length;
#endif
}

// The file's image data, in pages of its own: given back to the system as
// soon as the rows are inflated, where a freed heap block would stay with
// the thread's arena and add to the run's peak memory.
class PageBuffer {
public:
    explicit PageBuffer(std::size_t size) : size_(size)
    {
        void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (pages == MAP_FAILED)
            throw std::bad_alloc();
        bytes_ = static_cast<unsigned char*>(pages);
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    ~PageBuffer() { release(); }

    unsigned char* get() const { return bytes_; }
    void release()
    {
        if (bytes_ != nullptr)
            ::munmap(bytes_, size_);
        bytes_ = nullptr;
    }

private:
    unsigned char* bytes_ = nullptr;
    std::size_t size_;
};

bool readWhole(int file, unsigned char* into, std::uint64_t length, std::uint64_t offset)
{
    while (length > 0) {
        const ssize_t got = ::pread(file, into, std::min<std::uint64_t>(length, 1 << 30), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got, offset += got, length -= got;
    }
    return true;
}

// Walks the chunks from the first IDAT to IEND in `bytes`, the rest of the
// file, and gathers the IDAT chunks' data at its start; their size, or -1
// where libpng might read the file otherwise.
std::int64_t gatherImageData(const PngImageData& data, int channels, unsigned char* bytes, std::uint64_t size)
{
    static const std::uint32_t idatCrc = libdeflate_crc32(0, "IDAT", 4);
    static const std::uint32_t iendCrc = libdeflate_crc32(0, "IEND", 4);
    const std::uint64_t longestIdat = idatLimit(data, channels);
    const std::uint64_t longestOther = chunkLimit(data);
    std::uint64_t gathered = 0;
    bool imageData = true; // still in the run of IDAT chunks
    for (std::uint64_t at = 0;;) {
        if (size - at < 8)
            return -1;
        const std::uint64_t length = bigEndian(bytes + at);
        const unsigned char* name = bytes + at + 4;
        const std::uint64_t body = at + 8;
        if (length > kMaxChunkLength || length + 4 > size - body ||
            !std::all_of(name, name + 4, isLetter))
            return -1;
        const bool idat = std::memcmp(name, "IDAT", 4) == 0;
        if (idat) {
            if (!imageData || length > longestIdat ||
                libdeflate_crc32(idatCrc, bytes + body, length) != bigEndian(bytes + body + length))
                return -1;
            std::memmove(bytes + gathered, bytes + body, length);
            gathered += length;
        } else {
            imageData = false;
            if (std::memcmp(name, "IEND", 4) == 0)
                return length == 0 && bigEndian(bytes + body) == iendCrc ? static_cast<std::int64_t>(gathered) : -1;
            const bool critical = (name[0] & 0x20) == 0;
            if (critical || length > longestOther || !skippedAfterImageData(name))
                return -1;
        }
        at = body + length + 4;
    }
}

// What zlib accepts of the stream's header, and a window that holds every
// distance the data can go back: libdeflate allows 32 KiB whatever the
// header says, and zlib refuses a distance beyond the declared window.
bool zlibWouldInflate(const unsigned char* stream, std::uint64_t size, std::uint64_t rawSize)
{
    if (size < 2)
        return false;
    const unsigned method = stream[0] & 15, window = stream[0] >> 4;
    return (stream[0] * 256u + stream[1]) % 31 == 0 && method == 8 && window <= 7 && (stream[1] & 0x20) == 0 &&
           (window == 7 || (std::uint64_t(1) << (window + 8)) >= rawSize);
}

// One row of pixels, already unfiltered, to grey: as libpng's
// png_do_strip_channel, png_do_rgb_to_gray (without gamma), png_do_chop
// and png_do_swap, in this order. Writes the row to `out`, which may lie at
// or before `in`; returns whether a pixel's red, green and blue differ.
template <int kChannels, bool kSixteen, bool kKeepSixteen>
bool greyRow(const unsigned char* in, unsigned char* out, std::uint32_t width)
{
    constexpr int kSampleBytes = kSixteen ? 2 : 1;
    bool differ = false;
    for (std::uint32_t x = 0; x < width; ++x, in += kChannels * kSampleBytes) {
        std::uint32_t grey;
        if constexpr (kChannels >= 3) {
            std::uint32_t red = in[0], green = in[kSampleBytes], blue = in[2 * kSampleBytes];
            if constexpr (kSixteen) {
                red = red << 8 | in[1], green = green << 8 | in[3], blue = blue << 8 | in[5];
                grey = (kRed * red + kGreen * green + kBlue * blue + 16384) >> 15;
            } else {
                grey = (kRed * red + kGreen * green + kBlue * blue) >> 15;
            }
            differ |= red != green || red != blue;
        } else {
            grey = kSixteen ? std::uint32_t(in[0]) << 8 | in[1] : in[0];
        }
        if constexpr (kKeepSixteen) {
            const std::uint16_t sample = static_cast<std::uint16_t>(grey);
            std::memcpy(out + 2 * std::size_t(x), &sample, 2);
        } else {
            out[x] = static_cast<unsigned char>(kSixteen ? grey >> 8 : grey);
        }
    }
    return differ;
}

using GreyRow = bool (*)(const unsigned char*, unsigned char*, std::uint32_t);

template <bool kSixteen, bool kKeepSixteen>
GreyRow greyRowFor(int channels)
{
    switch (channels) {
    case 1: return greyRow<1, kSixteen, kKeepSixteen>;
    case 2: return greyRow<2, kSixteen, kKeepSixteen>;
    case 3: return greyRow<3, kSixteen, kKeepSixteen>;
    default: return greyRow<4, kSixteen, kKeepSixteen>;
    }
}

} // namespace

bool decodePngImageData(const PngImageData& data, bool keepSixteenBits, cv::Mat& image, bool& coloursDiffer)
{
    static const int kChannelsOf[] = {1, 0, 3, 0, 2, 0, 4};
    const int channels = kChannelsOf[data.colourType];
    const int sampleBytes = data.bitDepth / 8;
    const bool keepSixteen = keepSixteenBits && sampleBytes == 2;
    const std::size_t rowBytes = std::size_t(data.width) * channels * sampleBytes;
    const std::uint64_t rawSize = std::uint64_t(data.height) * (rowBytes + 1);

    // The rest of the file, from the first IDAT chunk's header. Data far
    // beyond what the rows need (level 0 stores them with 5 bytes more in
    // 65535) is a file for libpng.
    const std::uint64_t start = data.firstData - 8, rest = data.fileSize - start;
    if (rest > 2 * rawSize + (1 << 20))
        return false;
    PageBuffer bytes(rest);
    if (!readWhole(data.file, bytes.get(), rest, start))
        return false;
    const std::int64_t gathered = gatherImageData(data, channels, bytes.get(), rest);
    if (gathered < 0 || !zlibWouldInflate(bytes.get(), gathered, rawSize))
        return false;

    // The image's own buffer holds the filtered rows first; each row, once
    // reversed (and made grey), moves towards the start, where the image is.
    const int type = keepSixteen ? CV_16U : CV_8U;
    const std::size_t outRowBytes = std::size_t(data.width) * (keepSixteen ? 2 : 1);
    const std::uint64_t rows = (rawSize + outRowBytes - 1) / outRowBytes;
    cv::Mat buffer(static_cast<int>(rows), static_cast<int>(data.width), type);
    unsigned char* raw = buffer.data;
    // Not for a header that claims far more than its data plausibly holds:
    // damaged data ends the inflation long before it fills such a buffer.
    if (rawSize <= std::max<std::uint64_t>(256 * std::uint64_t(gathered), 32 << 20))
        populate(raw, rawSize);
    {
        std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
            libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
        if (!inflater)
            throw std::bad_alloc();
        std::size_t used = 0, made = 0;
        if (libdeflate_zlib_decompress_ex(inflater.get(), bytes.get(), gathered, raw, rawSize, &used, &made) !=
                LIBDEFLATE_SUCCESS ||
            used != std::uint64_t(gathered) || made != rawSize)
            return false;
    }
    bytes.release();

    const int pixelBytes = channels * sampleBytes;
    const bool greyBytes = channels == 1 && sampleBytes == 1;
    const GreyRow toGrey = sampleBytes == 1 ? greyRowFor<false, false>(channels)
                           : keepSixteen    ? greyRowFor<true, true>(channels)
                                            : greyRowFor<true, false>(channels);
    const std::vector<unsigned char> zeros(rowBytes, 0);
    const unsigned char* prior = zeros.data();
    bool differ = false;
    for (std::uint32_t r = 0; r < data.height; ++r) {
        unsigned char* row = raw + r * (rowBytes + 1);
        const int filter = row[0];
        if (filter > kFilterPaeth)
            return false;
        if (greyBytes) {
            unsigned char* out = raw + r * rowBytes;
            reversePngFilter(filter, pixelBytes, row + 1, out, prior, rowBytes);
            prior = out;
            continue;
        }
        // Reversed where it is, and the row before made grey only now, as
        // it was this row's prior.
        reversePngFilter(filter, pixelBytes, row + 1, row + 1, prior, rowBytes);
        if (r > 0)
            differ |= toGrey(prior, raw + (r - 1) * outRowBytes, data.width);
        prior = row + 1;
    }
    if (!greyBytes)
        differ |= toGrey(prior, raw + (data.height - 1) * outRowBytes, data.width);

    image = buffer.rowRange(0, static_cast<int>(data.height));
    // Colour rows took several times the image's memory: keep only the image.
    if (rows > data.height + data.height / 8)
        image = image.clone();
    coloursDiffer = differ;
    return true;
}
