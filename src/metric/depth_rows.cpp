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
namespace morvex::detail::depth_rows {
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
static_assert(2 * kMaxLanes <= static_cast<size_t>(kRowPadding), "row arrays end in two vectors' worth of padding");

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
// one per lane of d: kPer8 for each eight, at least one. The last, padded
// group pools nothing: the stage's cursor.finish() pools what is left.
// Where a vector is a whole number of eights, the shares of the row's whole
// groups fit in the cursors of poolingShares() (the truncation's
// kPooledInTruncation per eight pixels, the search's the rest), so they
// need no check.
template <int kPer8, class D, class LastGroup>
HWY_INLINE void poolShare(PoolingCursor& cursor, D d, LastGroup lastGroup)
{
    if (lastGroup)
        return;
#if HWY_HAVE_SCALABLE
    cursor.advance(static_cast<int>((hn::Lanes(d) * kPer8 + 7) / 8));
#else
    constexpr size_t kLanes = hn::MaxLanes(d);
    constexpr int kShare = static_cast<int>((kLanes * kPer8 + 7) / 8);
    if (kLanes % 8 == 0)
        cursor.advanceBy<kShare>();
    else if (cursor.next + kShare <= cursor.end)
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

// 0 <= column < width, as unsigned min(column, width - 1) == column, which
// every target has as two instructions.
template <class D>
HWY_INLINE hn::Mask<D> insideRow(D d, hn::Vec<D> column, int width)
{
    const hn::RebindToUnsigned<D> du;
    const auto unsignedColumn = hn::BitCast(du, column);
    return hn::RebindMask(d, hn::Eq(hn::Min(unsignedColumn, hn::Set(du, static_cast<uint32_t>(width - 1))),
                                    unsignedColumn));
}

// A pixel's shift and which of its error terms count, in one int32: the
// shift times 4, plus 1 where the self error counts and 2 where the
// invading error does (only where the sets differ: where they agree both
// errors are 0 and the passes need not synthesise anything). Shifts lie
// within +-2^22, so the product fits.
constexpr int32_t kSelfErrorCounts = 1;  // bit 0
constexpr int32_t kInvadErrorCounts = 2; // bit 1
constexpr int32_t kErrorsCounted = kSelfErrorCounts | kInvadErrorCounts;

// Where the truncation stage's results go.
struct TruncationRows {
    int32_t *sampleA, *sampleB, *shiftAndCounts;
    float *weightSelf, *weightInvad;

    TruncationRows(DepthRowScratch& s, RowTerms& t)
        : sampleA(s.sampleA()), sampleB(s.sampleB()), shiftAndCounts(s.shiftAndCounts.data()),
          weightSelf(t.weightSelf.data()), weightInvad(t.weightInvad.data())
    {
    }
};

// What stage 1 makes of a group of N pixels from their truncated
// disparities, the difference of the two sets (and where it is 0) and the
// magnitudes of the disparities: which terms count, their weights, and the
// samples that the passes follow. Counts the terms.
template <class LastGroup>
HWY_INLINE void finishTruncation(const TruncationRows& out, int j, const GroupInputs& g, LastGroup lastGroup,
                                 VI column, VI tA, VI tB, VI shift, MI same, VF magA, VF magB, VF weightOffset,
                                 int width, VI& countedLanes, VI& sameLanes)
{
    const DF df;
    const DI di;
    MI countSelf = insideRow(di, hn::Add(column, tA), width);
    MI insideB = insideRow(di, hn::Add(column, tB), width);
    if (lastGroup) {
        // Lanes past the end of the row count nothing, and agree.
        const MI inRow = hn::FirstN(di, static_cast<size_t>(width - j));
        countSelf = hn::And(inRow, countSelf);
        insideB = hn::And(inRow, insideB);
        same = hn::Or(same, hn::Not(inRow));
    }
    // Where the sets agree, the invading term counts where the self term does.
    const VI invadVector = hn::IfThenElse(same, hn::VecFromMask(di, countSelf), hn::VecFromMask(di, insideB));
    const MI countInvad = hn::MaskFromVec(invadVector);
    // Counted per lane, as a mask lane is -1.
    countedLanes = hn::Sub(hn::Sub(countedLanes, hn::VecFromMask(di, countSelf)), invadVector);
    sameLanes = hn::Sub(sameLanes, hn::VecFromMask(di, same));

    const VF mix = hn::LoadU(df, g.mixed);
    hn::StoreU(hn::IfThenElseZero(hn::RebindMask(df, countSelf), hn::Add(hn::Mul(mix, magA), weightOffset)), df,
               out.weightSelf + j);
    hn::StoreU(hn::IfThenElseZero(hn::RebindMask(df, countInvad), hn::Add(hn::Mul(mix, magB), weightOffset)), df,
               out.weightInvad + j);
    const VI errorsCounted = hn::Or(hn::And(hn::VecFromMask(di, countSelf), hn::Set(di, kSelfErrorCounts)),
                                    hn::And(invadVector, hn::Set(di, kInvadErrorCounts)));
    hn::StoreU(hn::Or(hn::ShiftLeft<2>(shift), hn::IfThenZeroElse(same, errorsCounted)), di,
               out.shiftAndCounts + j);
    const VI level = hn::PromoteTo(di, hn::LoadU(DB(), g.view8));
    hn::StoreU(hn::Add(hn::ShiftLeft<8>(tA), level), di, out.sampleA + j);
    hn::StoreU(hn::Add(hn::ShiftLeft<8>(tB), level), di, out.sampleB + j);
}

// Stage 1 for the groups of N pixels, the last one padded.
RowCounts TruncateDepthRow(const DepthRowInputs& in, DepthRowScratch& s, RowTerms& terms, PoolingCursor& pooling)
{
    const DF df;
    const DI di;
    const VF scale = hn::Set(df, in.disparityScale);
    const VF offset = hn::Set(df, in.disparityOffset);
    const VF weightOffset = hn::Set(df, in.weightOffset);
    const float* disparity = in.disparity;
    const float* tableA = in.magnitudeA;
    const float* tableB = in.magnitudeB;
    const int width = in.width;
    const TruncationRows out(s, terms);
    const Normalizing rangeA(in.rangeA);
    const Normalizing rangeB(in.rangeB);
    const VI lane = hn::Iota(di, 0);
    PoolingCursor cursor = pooling;
    VI countedLanes = hn::Zero(di), sameLanes = hn::Zero(di);
    if (in.smallDisparities) {
        // Whole numbers within +-2^21: the truncations are the numbers, their
        // differences are exact and need no limit.
        forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto lastGroup) {
            poolShare<kPooledInTruncation>(cursor, df, lastGroup);
            const VI tA = smallDisparities(g.depthA, scale, offset);
            const VI tB = smallDisparities(g.depthB, scale, offset);
            finishTruncation(out, j, g, lastGroup, columns(di, lane, j), tA, tB, hn::Sub(tA, tB), hn::Eq(tA, tB),
                             rangeA.magnitudes(hn::ConvertTo(df, tA)), rangeB.magnitudes(hn::ConvertTo(df, tB)),
                             weightOffset, width, countedLanes, sameLanes);
        });
    } else {
        // Any disparities: the table's own entries, which saturate past the
        // 32-bit range.
        forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto lastGroup) {
            poolShare<kPooledInTruncation>(cursor, df, lastGroup);
            const VI valueA = hn::PromoteTo(di, hn::LoadU(DB(), g.depthA));
            const VI valueB = hn::PromoteTo(di, hn::LoadU(DB(), g.depthB));
            const VF dispA = hn::GatherIndex(df, disparity, valueA);
            const VF dispB = hn::GatherIndex(df, disparity, valueB);
            const VF d = hn::Sub(dispA, dispB);
            finishTruncation(out, j, g, lastGroup, columns(di, lane, j), limitedTruncation(dispA),
                             limitedTruncation(dispB), limitedTruncation(d),
                             hn::RebindMask(di, hn::Eq(d, hn::Zero(df))), hn::GatherIndex(df, tableA, valueA),
                             hn::GatherIndex(df, tableB, valueB), weightOffset, width, countedLanes, sameLanes);
        });
    }
    cursor.finish();
    pooling = cursor;
    // Every lane of every group, the last one's padding too, is the same or
    // differs.
    const int lanes = static_cast<int>(hn::Lanes(di));
    const long long lanesSeen = static_cast<long long>((width + lanes - 1) / lanes) * lanes;
    RowCounts counts;
    counts.countedTerms = hn::GetLane(hn::SumOfLanes(di, countedLanes));
    counts.disagreeingPixels = lanesSeen - hn::GetLane(hn::SumOfLanes(di, sameLanes));
    return counts;
}

HWY_INLINE VI clampColumns(VI column, int width)
{
    return hn::Min(hn::Max(column, hn::Zero(DI())), hn::Set(DI(), width - 1));
}

// The samples at N columns of the row. Where the columns lie within 2N of
// each other (disparities that change little along the row, the most), two
// loads from N / 2 before the first column on and two lookups replace the
// gather, which is slow on some processors. The loads may reach into the
// samples' padding on either side of the row.
HWY_INLINE VI samplesAt(const int32_t* samples, VI p)
{
    const DI di;
    const DU du;
    const int lanes = static_cast<int>(hn::Lanes(di));
    if (lanes > 1) {
        const int base = hn::GetLane(p) - lanes / 2;
        const VI index = hn::Sub(p, hn::Set(di, base));
        // 0 <= index < 2N, as unsigned min(index, 2N - 1) == index.
        const hn::Vec<DU> unsignedIndex = hn::BitCast(du, index);
        if (hn::AllTrue(du, hn::Eq(hn::Min(unsignedIndex, hn::Set(du, 2u * lanes - 1)), unsignedIndex))) {
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
    VI sample = samplesAt(followedSamples, p);
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
        sample = samplesAt(followedSamples, p);
        n = arrivalDistance(x, p, sample, distance);
        const VF w = hn::IfThenElseZero(onEdge, expWeights(expTable, expWeight, n));
        weighted = hn::Add(weighted, hn::Mul(w, intensities(sample)));
        weights = hn::Add(weights, w);
    }
    return hn::Div(weighted, weights);
}

// The values that both passes synthesise, for the groups of N pixels of the
// row in which some error term counts.
HWY_INLINE void synthesiseGroups(const DepthRowInputs& in, DepthRowScratch& s, PoolingCursor& cursor)
{
    const DF df;
    const DI di;
    const int width = in.width;
    const int32_t* shiftAndCounts = s.shiftAndCounts.data();
    const int32_t* sampleA = s.sampleA();
    const int32_t* sampleB = s.sampleB();
    float* selfValue = s.selfValue.data();
    float* invadValue = s.invadValue.data();
    HWY_ALIGN float expWeight[std::max<size_t>(kMaxLanes, 8)] = {};
    std::copy_n(in.expWeight, 6, expWeight);
    const VF expTable = hn::Load(df, expWeight);
    const VF edgeThreshold = hn::Set(df, kEdgeThreshold);
    const VI lane = hn::Iota(di, 0);
    forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto lastGroup) {
        poolShare<kPooledInPasses>(cursor, df, lastGroup);
        const VI packed = hn::LoadU(di, shiftAndCounts + j);
        const MI noneCounts = hn::Eq(hn::And(packed, hn::Set(di, kErrorsCounted)), hn::Zero(di));
        if (hn::AllTrue(di, noneCounts))
            return;
        const VI column = columns(di, lane, j);
        const VI shift = hn::ShiftRight<2>(packed);
        const MF onEdge = hn::AndNot(hn::RebindMask(df, noneCounts), hn::Gt(hn::LoadU(df, g.gradDisp), edgeThreshold));
        // A sample's disparity is its bits above the intensity.
        const VI xSelf = hn::Add(column, hn::ShiftRight<8>(hn::LoadU(di, sampleA + j)));
        const VI xInvad = hn::Add(column, hn::ShiftRight<8>(hn::LoadU(di, sampleB + j)));
        hn::StoreU(passValues(expTable, expWeight, sampleB, width, xSelf, hn::Add(column, shift), onEdge), df,
                   selfValue + j);
        hn::StoreU(passValues(expTable, expWeight, sampleA, width, xInvad, hn::Sub(column, shift), onEdge), df,
                   invadValue + j);
    });
}

// The error terms are estimated in double, so the error stage takes as many
// pixels at a time as a vector has doubles: their floats fill a vector of as
// many lanes.
using DE = hn::Rebind<float, DD>;
using DEI = hn::RebindToSigned<DE>;
using DEB = hn::Rebind<uint8_t, DD>;
using VE = hn::Vec<DE>;
using VEI = hn::Vec<DEI>;

// nearHalfway() of error_terms.h for the estimates of both terms. The bits
// below float precision are the low 29 bits of a double, all in its low
// 32-bit half, so the test runs on those halves: lane 2k for self estimate k,
// lane 2k + 1 for invading estimate k (one lane for both on the one-lane
// target).
#if HWY_TARGET == HWY_SCALAR
using DNear = DD64;
HWY_INLINE hn::Mask<DD64> nearHalfway(VD estimate)
{
    const DD64 du;
    const auto below = hn::And(hn::BitCast(du, estimate), hn::Set(du, kBelowFloatPrecision));
    const auto off = hn::Sub(below, hn::Set(du, kHalfwayBits - kHalfwayMargin));
    return hn::Lt(off, hn::Set(du, 2 * kHalfwayMargin + 1));
}
HWY_INLINE hn::Mask<DD64> nearHalfway(VD self, VD invad)
{
    return hn::Or(nearHalfway(self), nearHalfway(invad));
}
#else
using DNear = hn::Repartition<uint32_t, DD>;
HWY_INLINE hn::Mask<DNear> nearHalfway(VD self, VD invad)
{
    const DNear du;
    const auto invadLowHalves = hn::BitCast(du, hn::ShiftLeft<32>(hn::BitCast(DD64(), invad)));
    const auto low = hn::OddEven(invadLowHalves, hn::BitCast(du, self));
    const auto off = hn::Sub(hn::And(low, hn::Set(du, static_cast<uint32_t>(kBelowFloatPrecision))),
                             hn::Set(du, static_cast<uint32_t>(kHalfwayBits - kHalfwayMargin)));
    return hn::Eq(hn::Min(off, hn::Set(du, static_cast<uint32_t>(2 * kHalfwayMargin))), off);
}
#endif

// Where the error terms of a row go; the float errors only where they are
// kept.
struct TermRows {
    const float *weightSelf, *weightInvad;
    float *errorSelf, *errorInvad;
    PixelAddends* added;

    explicit TermRows(RowTerms& t)
        : weightSelf(t.weightSelf.data()), weightInvad(t.weightInvad.data()), errorSelf(t.errorSelf.data()),
          errorInvad(t.errorInvad.data()), added(t.added.data())
    {
    }

    // The errors of the group at j where they are kept, and what the pooling
    // adds (RowTerms::makeAddends) from them and the weights.
    template <bool kKeepFloats>
    HWY_INLINE void store(int j, VE errorS, VE errorI) const
    {
        const DE de;
        const DD dd;
        if (kKeepFloats) {
            hn::StoreU(errorS, de, errorSelf + j);
            hn::StoreU(errorI, de, errorInvad + j);
        }
        const VD wSelf = hn::PromoteTo(dd, hn::LoadU(de, weightSelf + j));
        const VD wInvad = hn::PromoteTo(dd, hn::LoadU(de, weightInvad + j));
        hn::StoreInterleaved4(wSelf, hn::Mul(hn::PromoteTo(dd, errorS), wSelf), wInvad,
                              hn::Mul(hn::PromoteTo(dd, errorI), wInvad), dd, &added[j].weightSelf);
    }
};

// The squared error of error_terms.h from a scaled difference in double, 0
// where the term does not count: where bit kBit of errorsCounted is clear.
// The bit, moved to the sign and spread over the lane, is the mask.
template <int kBit>
HWY_INLINE VE squaredErrors(VD scaled, VEI errorsCounted)
{
    const DE de;
    const DEI di;
    const VE error = hn::DemoteTo(de, scaled);
    const VEI counts = hn::BroadcastSignBit(hn::ShiftLeft<31 - kBit>(errorsCounted));
    return hn::BitCast(de, hn::And(counts, hn::BitCast(di, hn::Mul(error, error))));
}

// The error terms of the pixels from j on, as many as a vector has doubles,
// from the synthesised values.
template <bool kKeepFloats>
HWY_INLINE void errorTermsAt(const TermRows& out, int j, const uint8_t* view8, const int32_t* shiftAndCounts,
                             const float* selfValue, const float* invadValue)
{
    const DD dd;
    const DE de;
    const DEI di;
    const VEI counted = hn::LoadU(di, shiftAndCounts + j);
    // Where all agree (or no error counts), the errors are 0 and there are
    // no synthesised values.
    if (hn::AllTrue(di, hn::Eq(hn::And(counted, hn::Set(di, kErrorsCounted)), hn::Zero(di)))) {
        out.store<kKeepFloats>(j, hn::Zero(de), hn::Zero(de));
        return;
    }
    const VD view = hn::PromoteTo(dd, hn::PromoteTo(di, hn::LoadU(DEB(), view8)));
    const VD differenceSelf = hn::Sub(view, hn::PromoteTo(dd, hn::LoadU(de, selfValue + j)));
    const VD differenceInvad = hn::Sub(view, hn::PromoteTo(dd, hn::LoadU(de, invadValue + j)));
    VD self = hn::Mul(differenceSelf, hn::Set(dd, 1.0 / 255.0));
    VD invad = hn::Mul(differenceInvad, hn::Set(dd, 1.0 / 255.0));
    // Rarely an estimate lies too near a rounding boundary: the pixels
    // divide, which rounds every lane as the certain estimates do.
    if (HWY_UNLIKELY(!hn::AllFalse(DNear(), nearHalfway(self, invad)))) {
        self = hn::Div(differenceSelf, hn::Set(dd, 255.0));
        invad = hn::Div(differenceInvad, hn::Set(dd, 255.0));
    }
    out.store<kKeepFloats>(j, squaredErrors<0>(self, counted), squaredErrors<1>(invad, counted));
}

// The error terms of the row's groups of N pixels, a half at a time (the
// whole group on the one-lane target).
template <bool kKeepFloats>
HWY_INLINE void errorTermsOfGroups(const DepthRowInputs& in, DepthRowScratch& s, RowTerms& terms,
                                   PoolingCursor& cursor)
{
    const DF df;
    const int half = static_cast<int>(hn::Lanes(DD()));
    const int32_t* shiftAndCounts = s.shiftAndCounts.data();
    const float* selfValue = s.selfValue.data();
    const float* invadValue = s.invadValue.data();
    const TermRows out(terms);
    forEachGroup(in, hn::Lanes(df), [&](int j, const GroupInputs& g, auto lastGroup) {
        poolShare<kPooledInErrors>(cursor, df, lastGroup);
        errorTermsAt<kKeepFloats>(out, j, g.view8, shiftAndCounts, selfValue, invadValue);
        if (HWY_TARGET != HWY_SCALAR)
            errorTermsAt<kKeepFloats>(out, j + half, g.view8 + half, shiftAndCounts, selfValue, invadValue);
    });
}

// Stage 2: two loops over the row, each with a short chain of dependent
// operations per group: the processor overlaps groups, where one loop's long
// chain (sample, division, error estimates) would keep it waiting.
void SearchAndErrorTerms(const DepthRowInputs& in, DepthRowScratch& s, RowTerms& terms, PoolingCursor& pooling)
{
    PoolingCursor cursor = pooling;
    synthesiseGroups(in, s, cursor);
    if (in.keepFloatTerms)
        errorTermsOfGroups<true>(in, s, terms, cursor);
    else
        errorTermsOfGroups<false>(in, s, terms, cursor);
    cursor.finish();
    pooling = cursor;
}

void NearHalfwayLanes(const double* estimates, size_t count, bool* asSelf, bool* asInvad)
{
    const DD dd;
    const DNear dn;
    const size_t lanes = hn::Lanes(dd);
    const size_t nearLanes = hn::Lanes(dn);
    for (size_t i = 0; i < count; i += lanes) {
        HWY_ALIGN double group[kMaxLanes] = {};
        std::copy_n(estimates + i, std::min(lanes, count - i), group);
        const VD v = hn::Load(dd, group);
        HWY_ALIGN hn::TFromD<DNear> self[kMaxLanes], invad[kMaxLanes];
        hn::Store(hn::VecFromMask(dn, nearHalfway(v, hn::Zero(dd))), dn, self);
        hn::Store(hn::VecFromMask(dn, nearHalfway(hn::Zero(dd), v)), dn, invad);
        for (size_t k = 0; k < lanes && i + k < count; ++k) {
            asSelf[i + k] = self[nearLanes == lanes ? k : 2 * k] != 0;
            asInvad[i + k] = invad[nearLanes == lanes ? k : 2 * k + 1] != 0;
        }
    }
}

} // namespace HWY_NAMESPACE
} // namespace morvex::detail::depth_rows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
// The dispatch names the functions within their namespace (a build with one
// target calls that target's directly). Without vector code, the one-lane
// target, which every build compiles.
namespace morvex::detail {
namespace depth_rows {
HWY_EXPORT(TruncateDepthRow);
HWY_EXPORT(SearchAndErrorTerms);
HWY_EXPORT(NearHalfwayLanes);

#if HWY_BASELINE_SCALAR == HWY_SCALAR
namespace one_lane = N_SCALAR;
#else
namespace one_lane = N_EMU128;
#endif

RowCounts truncate(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms, PoolingCursor& pooling)
{
    if (in.vectorCode)
        return HWY_DYNAMIC_DISPATCH(TruncateDepthRow)(in, scratch, terms, pooling);
    return one_lane::TruncateDepthRow(in, scratch, terms, pooling);
}

void search(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms, PoolingCursor& pooling)
{
    if (in.vectorCode)
        return HWY_DYNAMIC_DISPATCH(SearchAndErrorTerms)(in, scratch, terms, pooling);
    one_lane::SearchAndErrorTerms(in, scratch, terms, pooling);
}

void nearHalfway(const double* estimates, size_t count, bool* asSelf, bool* asInvad)
{
    HWY_DYNAMIC_DISPATCH(NearHalfwayLanes)(estimates, count, asSelf, asInvad);
}
} // namespace depth_rows

RowCounts truncateDepthRow(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms,
                           PoolingCursor& pooling)
{
    return depth_rows::truncate(in, scratch, terms, pooling);
}

void searchAndErrorTerms(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms, PoolingCursor& pooling)
{
    depth_rows::search(in, scratch, terms, pooling);
}

void nearHalfwayLanes(const double* estimates, size_t count, bool* asSelf, bool* asInvad)
{
    depth_rows::nearHalfway(estimates, count, asSelf, asInvad);
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

} // namespace morvex::detail
#endif
