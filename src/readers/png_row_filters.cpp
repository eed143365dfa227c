// Highway compiles this file once per target, as src/metric/depth_rows.cpp;
// the first call picks the best target that the processor has.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "readers/png_row_filters.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

#include "readers/png_row_filters.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#ifndef MORVEX_PNG_ROW_FILTERS_ONCE
#define MORVEX_PNG_ROW_FILTERS_ONCE
namespace png_filters {

// Average and Paeth depend on the byte a pixel before, just reversed: one
// byte after another, whatever the target.
template <int kBytes>
void averageRow(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* prior, std::size_t length)
{
    std::size_t i = 0;
    for (; i < length && i < kBytes; ++i)
        out[i] = static_cast<std::uint8_t>(in[i] + (prior[i] >> 1));
    for (; i < length; ++i)
        out[i] = static_cast<std::uint8_t>(in[i] + ((out[i - kBytes] + prior[i]) >> 1));
}

template <int kBytes>
void paethRow(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* prior, std::size_t length)
{
    std::size_t i = 0;
    for (; i < length && i < kBytes; ++i)
        out[i] = static_cast<std::uint8_t>(in[i] + prior[i]);
    for (; i < length; ++i) {
        const int a = out[i - kBytes], b = prior[i], c = prior[i - kBytes];
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        out[i] = static_cast<std::uint8_t>(in[i] + predicted);
    }
}

// call(the pixel size as a constant), for the sizes PNG's 8- and 16-bit pixels have.
template <typename Call>
void byPixelSize(int pixelBytes, const Call& call)
{
    switch (pixelBytes) {
    case 1: return call(std::integral_constant<int, 1>());
    case 2: return call(std::integral_constant<int, 2>());
    case 3: return call(std::integral_constant<int, 3>());
    case 4: return call(std::integral_constant<int, 4>());
    case 6: return call(std::integral_constant<int, 6>());
    default: return call(std::integral_constant<int, 8>());
    }
}

} // namespace png_filters
#endif

HWY_BEFORE_NAMESPACE();
namespace png_filters {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Sub is a running sum with a stride of one pixel: within each block of 16
// bytes it is made in a few shifted additions, and the block's last pixel
// carries into the next block.
template <int kBytes>
void SubRow(const uint8_t* in, uint8_t* out, size_t length)
{
    size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::Full128<uint8_t> d;
    // Lane i takes the carry from byte 16 - kBytes + i % kBytes of the block before.
    alignas(16) uint8_t carryIndex[16];
    for (int i = 0; i < 16; ++i)
        carryIndex[i] = static_cast<uint8_t>(16 - kBytes + i % kBytes);
    const auto fromCarry = hn::Load(d, carryIndex);
    auto before = hn::Zero(d);
    for (; i + 16 <= length; i += 16) {
        auto v = hn::LoadU(d, in + i);
        v = hn::Add(v, hn::ShiftLeftBytes<kBytes>(d, v));
        if constexpr (2 * kBytes < 16)
            v = hn::Add(v, hn::ShiftLeftBytes<2 * kBytes>(d, v));
        if constexpr (4 * kBytes < 16)
            v = hn::Add(v, hn::ShiftLeftBytes<4 * kBytes>(d, v));
        if constexpr (8 * kBytes < 16)
            v = hn::Add(v, hn::ShiftLeftBytes<8 * kBytes>(d, v));
        before = hn::Add(v, hn::TableLookupBytes(before, fromCarry));
        hn::StoreU(before, d, out + i);
    }
#endif
    for (; i < length; ++i)
        out[i] = static_cast<uint8_t>(in[i] + (i >= kBytes ? out[i - kBytes] : 0));
}

void UpRow(const uint8_t* in, uint8_t* out, const uint8_t* prior, size_t length)
{
    const hn::ScalableTag<uint8_t> d;
    const size_t lanes = hn::Lanes(d);
    size_t i = 0;
    for (; i + lanes <= length; i += lanes)
        hn::StoreU(hn::Add(hn::LoadU(d, in + i), hn::LoadU(d, prior + i)), d, out + i);
    for (; i < length; ++i)
        out[i] = static_cast<uint8_t>(in[i] + prior[i]);
}

void ReverseFilter(int filter, int pixelBytes, const uint8_t* in, uint8_t* out, const uint8_t* prior,
                   size_t length)
{
    switch (filter) {
    case kFilterNone:
        if (out != in)
            std::memmove(out, in, length);
        return;
    case kFilterSub:
        return byPixelSize(pixelBytes, [&](auto bytes) { SubRow<decltype(bytes)::value>(in, out, length); });
    case kFilterUp:
        return UpRow(in, out, prior, length);
    case kFilterAverage:
        return byPixelSize(pixelBytes, [&](auto bytes) { averageRow<decltype(bytes)::value>(in, out, prior, length); });
    default:
        return byPixelSize(pixelBytes, [&](auto bytes) { paethRow<decltype(bytes)::value>(in, out, prior, length); });
    }
}

} // namespace HWY_NAMESPACE
} // namespace png_filters
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
// The dispatch names the function within its namespace (a build with one
// target calls that target's directly).
namespace png_filters {
HWY_EXPORT(ReverseFilter);

void reverse(int filter, int pixelBytes, const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* prior,
             std::size_t length)
{
    HWY_DYNAMIC_DISPATCH(ReverseFilter)(filter, pixelBytes, in, out, prior, length);
}
} // namespace png_filters

void reversePngFilter(int filter, int pixelBytes, const std::uint8_t* in, std::uint8_t* out,
                      const std::uint8_t* prior, std::size_t length)
{
    png_filters::reverse(filter, pixelBytes, in, out, prior, length);
}
#endif
