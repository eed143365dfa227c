// The row loops of the edge strengths, one source for every processor (see
// depth_rows.cpp): single products, sums and correctly rounded divisions in
// float, the mix in double, lane by lane as the one-lane target does them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "metric/edge_rows.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

#include "metric/edge_rows.h"

HWY_BEFORE_NAMESPACE();
namespace morvex::detail::edge_rows {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// As many pixels at a time as a vector has doubles.
using DD = hn::ScalableTag<double>;
using DE = hn::Rebind<float, DD>;
using VD = hn::Vec<DD>;
using VE = hn::Vec<DE>;
// The resize a whole vector of floats at a time.
using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using VF = hn::Vec<DF>;

HWY_INLINE float normalizedAt(const EdgeRowBlend& b, int c)
{
    if (b.flat)
        return 0.0f;
    const float value = b.upper[c] * b.w0 + b.lower[c] * b.w1;
    return (value - b.lo) / b.span;
}

HWY_INLINE VE normalizedLanes(const EdgeRowBlend& b, int c)
{
    const DE de;
    if (b.flat)
        return hn::Zero(de);
    const VE value = hn::Add(hn::Mul(hn::LoadU(de, b.upper + c), hn::Set(de, b.w0)),
                             hn::Mul(hn::LoadU(de, b.lower + c), hn::Set(de, b.w1)));
    return hn::Div(hn::Sub(value, hn::Set(de, b.lo)), hn::Set(de, b.span));
}

void MixEdgeRow(const MixedEdgeRow& in, float* gradDispRow, float* mixedRow)
{
    const DD dd;
    const DE de;
    const VD viewShare = hn::Set(dd, in.viewShare);
    const VD dispShare = hn::Set(dd, in.dispShare);
    const int lanes = static_cast<int>(hn::Lanes(dd));
    int c = 0;
    for (; c + lanes <= in.width; c += lanes) {
        const VE v = normalizedLanes(in.view, c);
        const VE d = normalizedLanes(in.disp, c);
        hn::StoreU(d, de, gradDispRow + c);
        const VD mix = hn::Add(
            hn::Add(hn::Mul(hn::PromoteTo(dd, v), viewShare), hn::Mul(hn::PromoteTo(dd, d), dispShare)), hn::Zero(dd));
        hn::StoreU(hn::DemoteTo(de, mix), de, mixedRow + c);
    }
    for (; c < in.width; ++c) {
        const float v = normalizedAt(in.view, c);
        const float d = normalizedAt(in.disp, c);
        gradDispRow[c] = d;
        mixedRow[c] =
            static_cast<float>(static_cast<double>(v) * in.viewShare + static_cast<double>(d) * in.dispShare + 0.0);
    }
}

void ResizeRow(const float* src, float* dst, const ResizeTaps& taps)
{
    const DF df;
    const DI di;
    const int lanes = static_cast<int>(hn::Lanes(df));
    int d = 0;
    for (; d + lanes <= taps.lastTwoTap; d += lanes) {
        const hn::Vec<DI> index = hn::LoadU(di, taps.index + d);
        const VF first = hn::Mul(hn::GatherIndex(df, src, index), hn::LoadU(df, taps.w0 + d));
        const VF second = hn::Mul(hn::GatherIndex(df, src + 1, index), hn::LoadU(df, taps.w1 + d));
        hn::StoreU(hn::Add(first, second), df, dst + d);
    }
    for (; d < taps.lastTwoTap; ++d)
        dst[d] = src[taps.index[d]] * taps.w0[d] + src[taps.index[d] + 1] * taps.w1[d];
    for (; d < taps.dstLength; ++d)
        dst[d] = src[taps.index[d]];
}

} // namespace HWY_NAMESPACE
} // namespace morvex::detail::edge_rows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
// The dispatch names the functions within their namespace, as depth_rows.cpp's does.
namespace morvex::detail {
namespace edge_rows {
HWY_EXPORT(MixEdgeRow);
HWY_EXPORT(ResizeRow);

#if HWY_BASELINE_SCALAR == HWY_SCALAR
namespace one_lane = N_SCALAR;
#else
namespace one_lane = N_EMU128;
#endif

void mix(const MixedEdgeRow& in, float* gradDispRow, float* mixedRow)
{
    if (in.vectorCode)
        HWY_DYNAMIC_DISPATCH(MixEdgeRow)(in, gradDispRow, mixedRow);
    else
        one_lane::MixEdgeRow(in, gradDispRow, mixedRow);
}

void resize(const float* src, float* dst, const ResizeTaps& taps, bool vectorCode)
{
    if (vectorCode)
        HWY_DYNAMIC_DISPATCH(ResizeRow)(src, dst, taps);
    else
        one_lane::ResizeRow(src, dst, taps);
}
} // namespace edge_rows

void mixEdgeRow(const MixedEdgeRow& in, float* gradDispRow, float* mixedRow)
{
    edge_rows::mix(in, gradDispRow, mixedRow);
}

void resizeRow(const float* src, float* dst, const ResizeTaps& taps, bool vectorCode)
{
    edge_rows::resize(src, dst, taps, vectorCode);
}
} // namespace morvex::detail
#endif
