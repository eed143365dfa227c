// The depth-row stages, one source for every processor: Highway compiles this
// file once per target (one lane at a time; SSSE3, SSE4, AVX2 and AVX-512 on
// x86-64; NEON and SVE on arm64) and the first call picks the best target
// that the processor has. Each lane does exactly the operations of the
// one-lane target: only single products and sums (Highway makes a fused
// multiply-add only when asked for one), correctly rounded divisions, and
// conversions whose inputs are in range, so every target gives the same bits.
// Row arrays are reached through pointers held in locals: a vector store may
// alias any memory, and would otherwise make the compiler reload them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "metric/depth_rows.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

#include "metric/depth_rows.h"
#include "metric/error_terms.h"
#include "metric/similarity_search.h"

#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace depth_rows {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Pixels as 32-bit lanes: N at a time.
using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using DU = hn::RebindToUnsigned<DF>;
using DB = hn::Rebind<uint8_t, DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using MF = hn::Mask<DF>;
using MI = hn::Mask<DI>;
// The error terms are estimated in double.
using DD = hn::ScalableTag<double>;
using DD64 = hn::RebindToUnsigned<DD>;
using VD = hn::Vec<DD>;

// The widest vector of 32-bit lanes any target of this file has.
constexpr size_t kMaxLanes = HWY_MAX_BYTES / sizeof(float);
static_assert(kMaxLanes <= static_cast<size_t>(kRowPadding), "row arrays end in a vector's worth of padding");

// The row's inputs from pixel j on, as pointers held in locals.
struct GroupInputs {
    const uint8_t *depthA, *depthB, *view8;
    const float *mixed, *gradDisp;

    GroupInputs at(int j) const { return {depthA + j, depthB + j, view8 + j, mixed + j, gradDisp + j}; }
};

inline GroupInputs rowInputs(const DepthRowInputs& in)
{
    return {in.depthA, in.depthB, in.view8, in.mixed, in.gradDisp};
}

// The pixels of the row's last group, when the row is not a whole number of
// vectors, padded with zeros.
struct TailCopy {
    int start;
    uint8_t depthA[kMaxLanes] = {}, depthB[kMaxLanes] = {}, view8[kMaxLanes] = {};
    float mixed[kMaxLanes] = {}, gradDisp[kMaxLanes] = {};

    TailCopy(const DepthRowInputs& in, size_t lanes) : start(in.width - in.width % static_cast<int>(lanes))
    {
        const int count = in.width - start;
        std::copy_n(in.depthA + start, count, depthA);
        std::copy_n(in.depthB + start, count, depthB);
        std::copy_n(in.view8 + start, count, view8);
        std::copy_n(in.mixed + start, count, mixed);
        std::copy_n(in.gradDisp + start, count, gradDisp);
    }

    GroupInputs inputs() const { return {depthA, depthB, view8, mixed, gradDisp}; }
};

// Runs group(j, inputs from j, whether it is the last, padded group) over
// the row.
template <class Group>
HWY_INLINE void forEachGroup(const DepthRowInputs& in, size_t lanes, const Group& group)
{
    const GroupInputs row = rowInputs(in);
    const int width = in.width;
    const int step = static_cast<int>(lanes);
    int j = 0;
    for (; j + step <= width; j += step)
        group(j, row.at(j), std::false_type());
    if (j < width) {
        const TailCopy tail(in, lanes);
        group(j, tail.inputs(), std::true_type());
    }
}

// Pools a stage's share of the previous row's terms for a group of pixels,
// one per lane of d: kPer8 for each eight, at least one.
template <int kPer8, class D>
HWY_INLINE void poolShare(PoolingCursor& cursor, D d)
{
#if HWY_HAVE_SCALABLE
    cursor.advance(static_cast<int>((hn::Lanes(d) * kPer8 + 7) / 8));
#else
    constexpr int kShare = static_cast<int>((hn::MaxLanes(d) * kPer8 + 7) / 8);
    if (cursor.next + kShare <= cursor.end)
        cursor.advanceBy<kShare>();
    else
        cursor.finish();
#endif
}

// The columns j, j + 1, ...: j plus the lane numbers, made once, which is
// faster than Iota(d, j) in the loops.
template <class D>
HWY_INLINE hn::Vec<D> columns(D d, hn::Vec<D> lane, int j)
{
    return hn::Add(hn::Set(d, j), lane);
}

HWY_INLINE VF depthValues(const uint8_t* depth)
{
    return hn::ConvertTo(DF(), hn::PromoteTo(DI(), hn::LoadU(DB(), depth)));
}

// The table's entries for N depth values where all of them are small, as
// the table was made: a float product and a float sum, rounded half to even
// (the processor's rounding mode, as the table's conversion). Adding 1.5 *
// 2^23 to a value within +-2^22 leaves no fraction and puts the rounded
// value, as an int32, in the low bits of the sum, plus those of 1.5 * 2^23.
HWY_INLINE VI smallDisparities(const uint8_t* depth, VF scale, VF offset)
{
    const VF magic = hn::Set(DF(), 12582912.0f);
    const VF sum = hn::Add(hn::Add(hn::Mul(depthValues(depth), scale), offset), magic);
    return hn::Sub(hn::BitCast(DI(), sum), hn::BitCast(DI(), magic));
}

HWY_INLINE VI limitedTruncation(VF disparity)
{
    const VF limited =
        hn::Min(hn::Max(disparity, hn::Set(DF(), -kDisparityLimit)), hn::Set(DF(), kDisparityLimit));
    return hn::ConvertTo(DI(), limited);
}

// ValueRange::normalized of |disparity| for N pixels. A range without width
// gives 0: the division's lanes are cleared, which keeps the loop free of a
// branch.
struct Normalizing {
    float lo, span;
    int32_t used; // all bits set where the range has width

    explicit Normalizing(const ValueRange& range)
        : lo(range.lo), span(range.hi - range.lo), used(range.hi == range.lo ? 0 : -1)
    {
    }

    HWY_INLINE VF magnitudes(VF disparity) const
    {
        const DF df;
        const VF normalized = hn::Div(hn::Sub(hn::Abs(disparity), hn::Set(df, lo)), hn::Set(df, span));
        return hn::And(normalized, hn::BitCast(df, hn::Set(DI(), used)));
    }
};

// Where the truncation stage's results go.
struct TruncationRows {
    int32_t *truncA, *truncB, *shift, *differ, *sampleA, *sampleB;
    float *magnitudeA, *magnitudeB;

    explicit TruncationRows(DepthRowScratch& s)
        : truncA(s.truncA.data()), truncB(s.truncB.data()), shift(s.shift.data()), differ(s.differ.data()),
          sampleA(s.sampleA.data()), sampleB(s.sampleB.data()), magnitudeA(s.magnitudeA.data()),
          magnitudeB(s.magnitudeB.data())
    {
    }

    HWY_INLINE void store(int j, VI tA, VI tB, VI shifts, VI differs, VI level, VF magA, VF magB) const
    {
        const DI di;
        hn::StoreU(tA, di, truncA + j);
        hn::StoreU(tB, di, truncB + j);
        hn::StoreU(shifts, di, shift + j);
        hn::StoreU(differs, di, differ + j);
        hn::StoreU(hn::Add(hn::ShiftLeft<8>(tA), level), di, sampleA + j);
        hn::StoreU(hn::Add(hn::ShiftLeft<8>(tB), level), di, sampleB + j);
        hn::StoreU(magA, DF(), magnitudeA + j);
        hn::StoreU(magB, DF(), magnitudeB + j);
    }
};

// Stage 1 for the groups of N pixels, the last one padded.
void TruncateDepthRow(const DepthRowInputs& in, DepthRowScratch& s, PoolingCursor& pooling)
{
    const DF df;
    const DI di;
    const VF scale = hn::Set(df, in.disparityScale);
    const VF offset = hn::Set(df, in.disparityOffset);
    const float* disparity = in.disparity;
    const float* tableA = in.magnitudeA;
    const float* tableB = in.magnitudeB;
    const TruncationRows out(s);
    const Normalizing rangeA(in.rangeA);
    const Normalizing rangeB(in.rangeB);
    PoolingCursor cursor = pooling;
    if (in.smallDisparities) {
        // Whole numbers within +-2^21: the truncations are the numbers, their
        // differences are exact and need no limit.
        forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto) {
            poolShare<kPooledInTruncation>(cursor, df);
            const VI tA = smallDisparities(g.depthA, scale, offset);
            const VI tB = smallDisparities(g.depthB, scale, offset);
            out.store(j, tA, tB, hn::Sub(tA, tB), hn::VecFromMask(di, hn::Ne(tA, tB)),
                      hn::PromoteTo(di, hn::LoadU(DB(), g.view8)), rangeA.magnitudes(hn::ConvertTo(df, tA)),
                      rangeB.magnitudes(hn::ConvertTo(df, tB)));
        });
    } else {
        // Any disparities: the table's own entries, which saturate past the
        // 32-bit range.
        forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto) {
            poolShare<kPooledInTruncation>(cursor, df);
            const VI valueA = hn::PromoteTo(di, hn::LoadU(DB(), g.depthA));
            const VI valueB = hn::PromoteTo(di, hn::LoadU(DB(), g.depthB));
            const VF dispA = hn::GatherIndex(df, disparity, valueA);
            const VF dispB = hn::GatherIndex(df, disparity, valueB);
            const VF d = hn::Sub(dispA, dispB);
            out.store(j, limitedTruncation(dispA), limitedTruncation(dispB), limitedTruncation(d),
                      hn::VecFromMask(di, hn::RebindMask(di, hn::Ne(d, hn::Zero(df)))),
                      hn::PromoteTo(di, hn::LoadU(DB(), g.view8)), hn::GatherIndex(df, tableA, valueA),
                      hn::GatherIndex(df, tableB, valueB));
        });
    }
    cursor.finish();
    pooling = cursor;
}

HWY_INLINE VI clampColumns(VI column, int width)
{
    return hn::Min(hn::Max(column, hn::Zero(DI())), hn::Set(DI(), width - 1));
}

// The samples at N columns. Where the columns lie within 2N of each other
// (disparities that change little along the row, the most), two loads and
// two lookups replace the gather, which is slow on some processors.
HWY_INLINE VI samplesAt(const int32_t* samples, VI p, int width)
{
    const DI di;
    const int lanes = static_cast<int>(hn::Lanes(di));
    if (lanes > 1 && width >= 2 * lanes) {
        const int first = hn::GetLane(p);
        const int base = std::min(std::max(first - lanes / 2, 0), width - 2 * lanes);
        const VI index = hn::Sub(p, hn::Set(di, base));
        if (hn::AllTrue(DU(), hn::Lt(hn::BitCast(DU(), index), hn::Set(DU(), 2u * lanes)))) {
            const auto lane = hn::IndicesFromVec(di, hn::And(index, hn::Set(di, lanes - 1)));
            const VI low = hn::TableLookupLanes(hn::LoadU(di, samples + base), lane);
            const VI high = hn::TableLookupLanes(hn::LoadU(di, samples + base + lanes), lane);
            return hn::IfThenElse(hn::Gt(index, hn::Set(di, lanes - 1)), high, low);
        }
    }
    return hn::GatherIndex(di, samples, p);
}

HWY_INLINE VF intensities(VI samples)
{
    return hn::ConvertTo(DF(), hn::And(samples, hn::Set(DI(), 255)));
}

// How far the sample at p arrives from x, in exp(-n) steps: n = min(|x - y|, 5)
// where y = p + the sample's disparity.
HWY_INLINE VI arrivalDistance(VI x, VI p, VI sample, VI& distance)
{
    distance = hn::Sub(x, hn::Add(p, hn::ShiftRight<8>(sample)));
    return hn::Min(hn::Abs(distance), hn::Set(DI(), 5));
}

// exp(-n) for n = 0..5: a lookup in one vector (the first entries of
// `table`) where it has eight lanes or more, a choice among the six
// otherwise.
HWY_INLINE VF expWeights(VF table, const float* weights, VI n)
{
    const DF df;
    if (hn::Lanes(df) >= 8)
        return hn::TableLookupLanes(table, hn::IndicesFromVec(df, n));
    VF w = hn::Set(df, weights[5]);
    for (int k = 4; k >= 0; --k)
        w = hn::IfThenElse(hn::RebindMask(df, hn::Eq(n, hn::Set(DI(), k))), hn::Set(df, weights[k]), w);
    return w;
}

// pass() for N pixels: the sum over the start column and, in the lanes at
// edges, the columns of two correction steps; elsewhere those steps add +0
// to both sums, which leaves them unchanged. The sums start at the first
// column's terms: 0 + w * I is w * I, as the product is never -0.
HWY_INLINE VF passValues(VF expTable, const float* expWeight, const int32_t* followedSamples, int width, VI x,
                         VI start, MF onEdge)
{
    const DF df;
    VI p = clampColumns(start, width);
    VI sample = samplesAt(followedSamples, p, width);
    VI distance;
    VI n = arrivalDistance(x, p, sample, distance);
    // Groups of pixels away from edges, the most, skip the steps.
    if (hn::AllFalse(df, onEdge)) {
        // A single sample that arrives exactly has weight 1: the value is
        // its intensity, 1 * I / 1.
        if (hn::AllFalse(DI(), hn::Gt(n, hn::Zero(DI()))))
            return intensities(sample);
        const VF w = expWeights(expTable, expWeight, n);
        return hn::Div(hn::Mul(w, intensities(sample)), w);
    }
    VF weights = expWeights(expTable, expWeight, n);
    VF weighted = hn::Mul(weights, intensities(sample));
    for (int step = 0; step < kEdgeSteps; ++step) {
        p = clampColumns(hn::Add(p, distance), width);
        sample = samplesAt(followedSamples, p, width);
        n = arrivalDistance(x, p, sample, distance);
        const VF w = hn::IfThenElseZero(onEdge, expWeights(expTable, expWeight, n));
        weighted = hn::Add(weighted, hn::Mul(w, intensities(sample)));
        weights = hn::Add(weights, w);
    }
    return hn::Div(weighted, weights);
}

// The values that both passes synthesise, for the groups of N pixels of the
// row in which the disparities differ somewhere.
HWY_INLINE void synthesiseGroups(const DepthRowInputs& in, DepthRowScratch& s, PoolingCursor& cursor)
{
    const DF df;
    const DI di;
    const int width = in.width;
    const int32_t* truncA = s.truncA.data();
    const int32_t* truncB = s.truncB.data();
    const int32_t* shifts = s.shift.data();
    const int32_t* differs = s.differ.data();
    const int32_t* sampleA = s.sampleA.data();
    const int32_t* sampleB = s.sampleB.data();
    float* selfValue = s.selfValue.data();
    float* invadValue = s.invadValue.data();
    HWY_ALIGN float expWeight[std::max<size_t>(kMaxLanes, 8)] = {};
    std::copy_n(in.expWeight, 6, expWeight);
    const VF expTable = hn::Load(df, expWeight);
    const VF edgeThreshold = hn::Set(df, kEdgeThreshold);
    const VI lane = hn::Iota(di, 0);
    forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto) {
        poolShare<kPooledInPasses>(cursor, df);
        const MI differ = hn::Ne(hn::LoadU(di, differs + j), hn::Zero(di));
        if (hn::AllFalse(di, differ))
            return;
        const VI column = columns(di, lane, j);
        const VI shift = hn::LoadU(di, shifts + j);
        const MF onEdge =
            hn::And(hn::RebindMask(df, differ), hn::Gt(hn::LoadU(df, g.gradDisp), edgeThreshold));
        const VI xSelf = hn::Add(column, hn::LoadU(di, truncA + j));
        const VI xInvad = hn::Add(column, hn::LoadU(di, truncB + j));
        hn::StoreU(passValues(expTable, expWeight, sampleB, width, xSelf, hn::Add(column, shift), onEdge), df,
                   selfValue + j);
        hn::StoreU(passValues(expTable, expWeight, sampleA, width, xInvad, hn::Sub(column, shift), onEdge), df,
                   invadValue + j);
    });
}

// The error terms are estimated in double, for one half of a group's pixels
// at a time (for the whole group where it is one pixel).
#if HWY_TARGET == HWY_SCALAR
using DH = DF;
constexpr bool kTwoHalves = false;
template <int kHalf, class V>
HWY_INLINE V half(V v)
{
    return v;
}
HWY_INLINE VF joined(VF lower, VF) { return lower; }
#else
using DH = hn::Half<DF>;
constexpr bool kTwoHalves = true;
template <int kHalf, class V>
HWY_INLINE auto half(V v)
{
    const hn::Half<hn::DFromV<V>> dh;
    if constexpr (kHalf == 0)
        return hn::LowerHalf(dh, v);
    else
        return hn::UpperHalf(dh, v);
}
HWY_INLINE VF joined(hn::Vec<DH> lower, hn::Vec<DH> upper) { return hn::Combine(DF(), upper, lower); }
#endif

// nearHalfway() of error_terms.h for two vectors of estimates: lane k of
// the result is estimate k of the two in turn. The bits below float
// precision are the low 29 bits of a double, all in its low 32-bit half, so
// the test runs on those halves.
#if HWY_TARGET == HWY_SCALAR
using DNear = DD64;
HWY_INLINE hn::Mask<DD64> nearHalfway(VD estimate)
{
    const DD64 du;
    const auto below = hn::And(hn::BitCast(du, estimate), hn::Set(du, kBelowFloatPrecision));
    const auto off = hn::Sub(below, hn::Set(du, kHalfwayBits - kHalfwayMargin));
    return hn::Lt(off, hn::Set(du, 2 * kHalfwayMargin + 1));
}
HWY_INLINE hn::Mask<DD64> nearHalfway(VD first, VD second)
{
    return hn::Or(nearHalfway(first), nearHalfway(second));
}
#else
using DNear = DU;
HWY_INLINE hn::Mask<DU> nearHalfway(VD lower, VD upper)
{
    const DU du;
    const auto low = hn::ConcatEven(du, hn::BitCast(du, upper), hn::BitCast(du, lower));
    const auto off = hn::Sub(hn::And(low, hn::Set(du, static_cast<uint32_t>(kBelowFloatPrecision))),
                             hn::Set(du, static_cast<uint32_t>(kHalfwayBits - kHalfwayMargin)));
    return hn::Eq(hn::Min(off, hn::Set(du, static_cast<uint32_t>(2 * kHalfwayMargin))), off);
}
#endif

// RowTerms::makeAddends for the pixels of one half.
template <class V>
HWY_INLINE void storeAddends(V errorSelf, V weightSelf, V errorInvad, V weightInvad, PixelAddends* added)
{
    const DD dd;
    const VD wSelf = hn::PromoteTo(dd, weightSelf);
    const VD wInvad = hn::PromoteTo(dd, weightInvad);
    hn::StoreInterleaved4(wSelf, hn::Mul(hn::PromoteTo(dd, errorSelf), wSelf), wInvad,
                          hn::Mul(hn::PromoteTo(dd, errorInvad), wInvad), dd, &added->weightSelf);
}

// 0 <= column < width, as unsigned column < width.
HWY_INLINE MI insideRow(VI column, int width)
{
    const DU du;
    return hn::RebindMask(DI(), hn::Lt(hn::BitCast(du, column), hn::Set(du, static_cast<uint32_t>(width))));
}

// Where the terms of a row go; the float terms only where they are kept.
struct TermRows {
    float *errorSelf, *weightSelf, *errorInvad, *weightInvad;
    PixelAddends* added;

    explicit TermRows(RowTerms& t)
        : errorSelf(t.errorSelf.data()), weightSelf(t.weightSelf.data()), errorInvad(t.errorInvad.data()),
          weightInvad(t.weightInvad.data()), added(t.added.data())
    {
    }
};

// The terms of one half of the group at j: the float terms where they are
// kept, and what the pooling adds.
template <int kHalf, bool kKeepFloats, class V>
HWY_INLINE void storeHalf(const TermRows& out, int j, V errorSelf, V weightSelf, V errorInvad, V weightInvad)
{
    const DH dh;
    const int k = j + kHalf * static_cast<int>(hn::Lanes(dh));
    if (kKeepFloats) {
        hn::StoreU(errorSelf, dh, out.errorSelf + k);
        hn::StoreU(weightSelf, dh, out.weightSelf + k);
        hn::StoreU(errorInvad, dh, out.errorInvad + k);
        hn::StoreU(weightInvad, dh, out.weightInvad + k);
    }
    storeAddends(errorSelf, weightSelf, errorInvad, weightInvad, out.added + k);
}

// The error terms of one half of the group at j, in double: ((view -
// synthesised) / 255)^2 as scaledErrorEstimate() makes it, or with
// kExact as scaledErrorExact() does, where the masks are set. Returns where
// the estimates lie too near a rounding boundary.
template <int kHalf, bool kKeepFloats, bool kExact>
HWY_INLINE auto errorTermsOfHalf(const TermRows& out, int j, VI view8, VF selfValue, VF invadValue, VF selfMask,
                                 VF invadMask, VF weightSelf, VF weightInvad)
{
    const DD dd;
    const DH dh;
    const VD view = hn::PromoteTo(dd, half<kHalf>(view8));
    const VD differenceSelf = hn::Sub(view, hn::PromoteTo(dd, half<kHalf>(selfValue)));
    const VD differenceInvad = hn::Sub(view, hn::PromoteTo(dd, half<kHalf>(invadValue)));
    const VD self = kExact ? hn::Div(differenceSelf, hn::Set(dd, 255.0))
                           : hn::Mul(differenceSelf, hn::Set(dd, 1.0 / 255.0));
    const VD invad = kExact ? hn::Div(differenceInvad, hn::Set(dd, 255.0))
                            : hn::Mul(differenceInvad, hn::Set(dd, 1.0 / 255.0));
    const auto scaledSelf = hn::DemoteTo(dh, self);
    const auto scaledInvad = hn::DemoteTo(dh, invad);
    storeHalf<kHalf, kKeepFloats>(out, j, hn::And(hn::Mul(scaledSelf, scaledSelf), half<kHalf>(selfMask)),
                                  half<kHalf>(weightSelf),
                                  hn::And(hn::Mul(scaledInvad, scaledInvad), half<kHalf>(invadMask)),
                                  half<kHalf>(weightInvad));
    return nearHalfway(self, invad);
}

// The error terms of the row's groups of N pixels, from the synthesised
// values, and how many count.
template <bool kKeepFloats>
HWY_INLINE RowCounts errorTermsOfGroups(const DepthRowInputs& in, DepthRowScratch& s, RowTerms& terms,
                                        PoolingCursor& cursor)
{
    const DF df;
    const DI di;
    const int width = in.width;
    const float* magnitudeA = s.magnitudeA.data();
    const float* magnitudeB = s.magnitudeB.data();
    const int32_t* truncA = s.truncA.data();
    const int32_t* truncB = s.truncB.data();
    const int32_t* differs = s.differ.data();
    const float* selfValue = s.selfValue.data();
    const float* invadValue = s.invadValue.data();
    const TermRows out(terms);
    const VF weightOffset = hn::Set(df, in.weightOffset);
    const VI lane = hn::Iota(di, 0);

    // Counted in general registers: the vector registers are all taken, and
    // the pooling's sums must stay in one.
    RowCounts counts;
    forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto lastGroup) {
        poolShare<kPooledInErrors>(cursor, df);
        const VI column = columns(di, lane, j);
        MI differ = hn::Ne(hn::LoadU(di, differs + j), hn::Zero(di));
        MI countSelf = insideRow(hn::Add(column, hn::LoadU(di, truncA + j)), width);
        if (lastGroup) {
            // Lanes past the end of the row count nothing.
            const MI inRow = hn::FirstN(di, static_cast<size_t>(width - j));
            differ = hn::And(inRow, differ);
            countSelf = hn::And(inRow, countSelf);
        }
        const MI countInvad = hn::Or(hn::And(differ, insideRow(hn::Add(column, hn::LoadU(di, truncB + j)), width)),
                                     hn::AndNot(differ, countSelf));
        counts.countedTerms += hn::CountTrue(di, countSelf) + hn::CountTrue(di, countInvad);
        counts.disagreeingPixels += hn::CountTrue(di, differ);

        const VF mix = hn::LoadU(df, g.mixed);
        const VF weightSelf = hn::IfThenElseZero(hn::RebindMask(df, countSelf),
                                                 hn::Add(hn::Mul(mix, hn::LoadU(df, magnitudeA + j)), weightOffset));
        const VF weightInvad = hn::IfThenElseZero(
            hn::RebindMask(df, countInvad), hn::Add(hn::Mul(mix, hn::LoadU(df, magnitudeB + j)), weightOffset));
        // Where all agree, both errors are 0 and there are no synthesised
        // values.
        if (hn::AllFalse(di, differ)) {
            const auto zero = hn::Zero(DH());
            storeHalf<0, kKeepFloats>(out, j, zero, half<0>(weightSelf), zero, half<0>(weightInvad));
            if (kTwoHalves)
                storeHalf<1, kKeepFloats>(out, j, zero, half<1>(weightSelf), zero, half<1>(weightInvad));
            return;
        }
        const VI view8 = hn::PromoteTo(di, hn::LoadU(DB(), g.view8));
        const VF self = hn::LoadU(df, selfValue + j);
        const VF invad = hn::LoadU(df, invadValue + j);
        const VF selfMask = hn::VecFromMask(df, hn::RebindMask(df, hn::And(differ, countSelf)));
        const VF invadMask = hn::VecFromMask(df, hn::RebindMask(df, hn::And(differ, countInvad)));
        auto near = errorTermsOfHalf<0, kKeepFloats, false>(out, j, view8, self, invad, selfMask, invadMask,
                                                            weightSelf, weightInvad);
        if (kTwoHalves)
            near = hn::Or(near, errorTermsOfHalf<1, kKeepFloats, false>(out, j, view8, self, invad, selfMask,
                                                                        invadMask, weightSelf, weightInvad));
        // Rarely an estimate lies too near a rounding boundary: the group
        // divides, which rounds every lane as the certain estimates do.
        if (HWY_UNLIKELY(!hn::AllFalse(DNear(), near))) {
            errorTermsOfHalf<0, kKeepFloats, true>(out, j, view8, self, invad, selfMask, invadMask, weightSelf,
                                                   weightInvad);
            if (kTwoHalves)
                errorTermsOfHalf<1, kKeepFloats, true>(out, j, view8, self, invad, selfMask, invadMask, weightSelf,
                                                       weightInvad);
        }
    });
    return counts;
}

// Stage 2: two loops over the row, each with a short chain of dependent
// operations per group: the processor overlaps groups, where one loop's long
// chain (sample, division, error estimates) would keep it waiting.
RowCounts SearchAndErrorTerms(const DepthRowInputs& in, DepthRowScratch& s, RowTerms& terms, PoolingCursor& pooling)
{
    PoolingCursor cursor = pooling;
    synthesiseGroups(in, s, cursor);
    const RowCounts counts = in.keepFloatTerms ? errorTermsOfGroups<true>(in, s, terms, cursor)
                                               : errorTermsOfGroups<false>(in, s, terms, cursor);
    cursor.finish();
    pooling = cursor;
    return counts;
}

void NearHalfwayLanes(const double* estimates, size_t count, bool* verdicts)
{
    const DD dd;
    const size_t half = hn::Lanes(dd);
    const size_t lanes = kTwoHalves ? 2 * half : half;
    for (size_t i = 0; i < count; i += lanes) {
        HWY_ALIGN double group[2 * kMaxLanes] = {};
        std::copy_n(estimates + i, std::min(lanes, count - i), group);
        const auto near = nearHalfway(hn::Load(dd, group), hn::Load(dd, group + half));
        const DNear d;
        HWY_ALIGN hn::TFromD<DNear> lanesNear[kMaxLanes];
        hn::Store(hn::VecFromMask(d, near), d, lanesNear);
        for (size_t k = 0; k < lanes && i + k < count; ++k)
            verdicts[i + k] = lanesNear[k] != 0;
    }
}

} // namespace HWY_NAMESPACE
} // namespace depth_rows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
// The dispatch names the functions within their namespace (a build with one
// target calls that target's directly). Without vector code, the one-lane
// target, which every build compiles.
namespace depth_rows {
HWY_EXPORT(TruncateDepthRow);
HWY_EXPORT(SearchAndErrorTerms);
HWY_EXPORT(NearHalfwayLanes);

#if HWY_BASELINE_SCALAR == HWY_SCALAR
namespace one_lane = N_SCALAR;
#else
namespace one_lane = N_EMU128;
#endif

void truncate(const DepthRowInputs& in, DepthRowScratch& scratch, PoolingCursor& pooling)
{
    if (in.vectorCode)
        return HWY_DYNAMIC_DISPATCH(TruncateDepthRow)(in, scratch, pooling);
    one_lane::TruncateDepthRow(in, scratch, pooling);
}

RowCounts search(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms, PoolingCursor& pooling)
{
    if (in.vectorCode)
        return HWY_DYNAMIC_DISPATCH(SearchAndErrorTerms)(in, scratch, terms, pooling);
    return one_lane::SearchAndErrorTerms(in, scratch, terms, pooling);
}

void nearHalfway(const double* estimates, size_t count, bool* verdicts)
{
    HWY_DYNAMIC_DISPATCH(NearHalfwayLanes)(estimates, count, verdicts);
}
} // namespace depth_rows

void truncateDepthRow(const DepthRowInputs& in, DepthRowScratch& scratch, PoolingCursor& pooling)
{
    depth_rows::truncate(in, scratch, pooling);
}

RowCounts searchAndErrorTerms(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms,
                              PoolingCursor& pooling)
{
    return depth_rows::search(in, scratch, terms, pooling);
}

void nearHalfwayLanes(const double* estimates, size_t count, bool* verdicts)
{
    depth_rows::nearHalfway(estimates, count, verdicts);
}

std::vector<int64_t> depthRowTargets()
{
    return hwy::SupportedAndGeneratedTargets();
}

PoolingShares poolingShares(const RowTerms& terms, int width)
{
    const int first = width / 8 * kPooledInTruncation;
    return {PoolingCursor(terms, 0, first, {}), PoolingCursor(terms, first, width, {})};
}
#endif
