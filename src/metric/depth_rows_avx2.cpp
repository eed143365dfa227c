// The depth-row stages as AVX2 code, eight pixels at a time. Each lane does
// exactly the scalar operations of depth_row_pixel.h (no fused multiply-add:
// the target enables AVX2 alone), so the results are the same bits. Row
// arrays are reached through pointers held in locals: a vector store may
// alias any memory, and would otherwise make the compiler reload them.
#include "metric/depth_row_pixel.h"
#include "metric/error_terms_avx2.h"

namespace {

constexpr int kLanes = 8;

MORVEX_AVX2 __m256i loadBytes(const uint8_t* p)
{
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

MORVEX_AVX2 __m256i loadInts(const int32_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

MORVEX_AVX2 void storeInts(int32_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

MORVEX_AVX2 __m256i columns(int j)
{
    return _mm256_add_epi32(_mm256_set1_epi32(j), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

MORVEX_AVX2 __m256i limitedTruncation(__m256 disparity)
{
    const __m256 limit = _mm256_set1_ps(kDisparityLimit);
    const __m256 negativeLimit = _mm256_set1_ps(-kDisparityLimit);
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(disparity, negativeLimit), limit));
}

// The disparity table's entries for eight depth values, computed as the table
// was: a float product and a float sum, rounded half to even (the processor's
// rounding mode) to a 32-bit integer that saturates. The conversion gives
// INT32_MIN past either end and for NaN; the table saturates the top end to
// INT32_MAX, which is 2^31 as a float.
MORVEX_AVX2 __m256 disparities(const uint8_t* depth, float scale, float offset)
{
    const __m256 value = _mm256_cvtepi32_ps(loadBytes(depth));
    const __m256 disparity = _mm256_add_ps(_mm256_mul_ps(value, _mm256_set1_ps(scale)), _mm256_set1_ps(offset));
    const __m256 top = _mm256_set1_ps(2147483648.0f);
    const __m256 rounded = _mm256_cvtepi32_ps(_mm256_cvtps_epi32(disparity));
    return _mm256_blendv_ps(rounded, top, _mm256_cmp_ps(disparity, top, _CMP_GE_OQ));
}

MORVEX_AVX2 __m256i clampColumns(__m256i column, int width)
{
    return _mm256_min_epi32(_mm256_max_epi32(column, _mm256_setzero_si256()), _mm256_set1_epi32(width - 1));
}

// The samples at eight columns. Where the columns lie within 16 of each other
// (disparities that change little along the row, the most), two loads and
// two permutes replace the gather, which is slow on some processors.
MORVEX_AVX2 __m256i samplesAt(const int32_t* samples, __m256i p, int width)
{
    if (width >= 16) {
        const int first = _mm256_cvtsi256_si32(p);
        const int base = std::min(std::max(first - 4, 0), width - 16);
        const __m256i index = _mm256_sub_epi32(p, _mm256_set1_epi32(base));
        const __m256i last = _mm256_set1_epi32(15);
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(index, last), last)) == -1) {
            const __m256i low = _mm256_permutevar8x32_epi32(loadInts(samples + base), index);
            const __m256i high = _mm256_permutevar8x32_epi32(loadInts(samples + base + 8), index);
            return _mm256_blendv_epi8(low, high, _mm256_cmpgt_epi32(index, _mm256_set1_epi32(7)));
        }
    }
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(samples), p, 4);
}

MORVEX_AVX2 __m256 intensities(__m256i samples)
{
    return _mm256_cvtepi32_ps(_mm256_and_si256(samples, _mm256_set1_epi32(255)));
}

// How far the sample at p arrives from x, in exp(-n) steps: n = min(|x - y|, 5)
// where y = p + the sample's disparity.
MORVEX_AVX2 __m256i arrivalDistance(__m256i x, __m256i p, __m256i sample, __m256i& distance)
{
    distance = _mm256_sub_epi32(x, _mm256_add_epi32(p, _mm256_srai_epi32(sample, 8)));
    return _mm256_min_epi32(_mm256_abs_epi32(distance), _mm256_set1_epi32(5));
}

// pass() for eight pixels: the sum over the start column and, in the lanes
// at edges, the columns of two correction steps; elsewhere those steps add
// +0 to both sums, which leaves them unchanged. The sums start at the first
// column's terms: 0 + w * I is w * I, as the product is never -0.
MORVEX_AVX2 __m256 passValues(__m256 expWeight, const int32_t* followedSamples, int width, __m256i x,
                              __m256i start, __m256 onEdge)
{
    __m256i p = clampColumns(start, width);
    __m256i sample = samplesAt(followedSamples, p, width);
    __m256i distance;
    __m256i n = arrivalDistance(x, p, sample, distance);
    // Groups of pixels away from edges, the most, skip the steps.
    if (_mm256_movemask_ps(onEdge) == 0) {
        // A single sample that arrives exactly has weight 1: the value is
        // its intensity, 1 * I / 1.
        if (_mm256_testz_si256(n, n))
            return intensities(sample);
        const __m256 w = _mm256_permutevar8x32_ps(expWeight, n);
        return _mm256_div_ps(_mm256_mul_ps(w, intensities(sample)), w);
    }
    __m256 weights = _mm256_permutevar8x32_ps(expWeight, n);
    __m256 weighted = _mm256_mul_ps(weights, intensities(sample));
    for (int step = 0; step < kEdgeSteps; ++step) {
        p = clampColumns(_mm256_add_epi32(p, distance), width);
        sample = samplesAt(followedSamples, p, width);
        n = arrivalDistance(x, p, sample, distance);
        const __m256 w = _mm256_and_ps(_mm256_permutevar8x32_ps(expWeight, n), onEdge);
        weighted = _mm256_add_ps(weighted, _mm256_mul_ps(w, intensities(sample)));
        weights = _mm256_add_ps(weights, w);
    }
    return _mm256_div_ps(weighted, weights);
}

// Where the terms of a row go; the float terms only where they are kept.
template <bool kKeepFloats>
struct TermRows {
    float *errorSelf, *weightSelf, *errorInvad, *weightInvad;
    PixelAddends* added;

    explicit TermRows(RowTerms& t)
        : errorSelf(t.errorSelf.data()), weightSelf(t.weightSelf.data()), errorInvad(t.errorInvad.data()),
          weightInvad(t.weightInvad.data()), added(t.added.data())
    {
    }
};

// The terms of pixels k .. k + 3: RowTerms::makeAddends of their errors and
// weights, and the two as floats where they are kept.
template <bool kKeepFloats>
MORVEX_AVX2 void storeTerms(const TermRows<kKeepFloats>& t, int k, __m128 errorSelf, __m128 weightSelf,
                            __m128 errorInvad, __m128 weightInvad)
{
    if (kKeepFloats) {
        _mm_storeu_ps(t.errorSelf + k, errorSelf);
        _mm_storeu_ps(t.weightSelf + k, weightSelf);
        _mm_storeu_ps(t.errorInvad + k, errorInvad);
        _mm_storeu_ps(t.weightInvad + k, weightInvad);
    }
    const __m256d wSelf = _mm256_cvtps_pd(weightSelf);
    const __m256d eSelf = _mm256_mul_pd(_mm256_cvtps_pd(errorSelf), wSelf);
    const __m256d wInvad = _mm256_cvtps_pd(weightInvad);
    const __m256d eInvad = _mm256_mul_pd(_mm256_cvtps_pd(errorInvad), wInvad);
    // Four vectors of four pixels into four pixels of four addends.
    const __m256d self02 = _mm256_unpacklo_pd(wSelf, eSelf);
    const __m256d self13 = _mm256_unpackhi_pd(wSelf, eSelf);
    const __m256d invad02 = _mm256_unpacklo_pd(wInvad, eInvad);
    const __m256d invad13 = _mm256_unpackhi_pd(wInvad, eInvad);
    _mm256_storeu_pd(&t.added[k].weightSelf, _mm256_permute2f128_pd(self02, invad02, 0x20));
    _mm256_storeu_pd(&t.added[k + 1].weightSelf, _mm256_permute2f128_pd(self13, invad13, 0x20));
    _mm256_storeu_pd(&t.added[k + 2].weightSelf, _mm256_permute2f128_pd(self02, invad02, 0x31));
    _mm256_storeu_pd(&t.added[k + 3].weightSelf, _mm256_permute2f128_pd(self13, invad13, 0x31));
}

MORVEX_AVX2 __m128 lowHalf(__m256 v)
{
    return _mm256_castps256_ps128(v);
}

MORVEX_AVX2 __m128 highHalf(__m256 v)
{
    return _mm256_extractf128_ps(v, 1);
}

// 0 <= column < width, as unsigned column <= width - 1.
MORVEX_AVX2 __m256i insideRow(__m256i column, int width)
{
    return _mm256_cmpeq_epi32(_mm256_min_epu32(column, _mm256_set1_epi32(width - 1)), column);
}

MORVEX_AVX2 __m256 weights(__m256 mixed, const float* magnitude, float offset)
{
    return _mm256_add_ps(_mm256_mul_ps(mixed, _mm256_loadu_ps(magnitude)), _mm256_set1_ps(offset));
}

// ValueRange::normalized of |disparity| for eight pixels, with the range's
// values made once per row.
struct Normalizing {
    __m256 lo, span;
    bool flat;

    MORVEX_AVX2 explicit Normalizing(const ValueRange& range)
        : lo(_mm256_set1_ps(range.lo)), span(_mm256_set1_ps(range.hi - range.lo)), flat(range.hi == range.lo)
    {
    }

    MORVEX_AVX2 __m256 magnitudes(__m256 disparity) const
    {
        if (flat)
            return _mm256_setzero_ps();
        const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), disparity);
        return _mm256_div_ps(_mm256_sub_ps(magnitude, lo), span);
    }
};

// Adds the lanes of a vector of 32-bit counts.
MORVEX_AVX2 long long sumLanes(__m256i counts)
{
    const __m128i four = _mm_add_epi32(_mm256_castsi256_si128(counts), _mm256_extracti128_si256(counts, 1));
    const __m128i two = _mm_add_epi32(four, _mm_unpackhi_epi64(four, four));
    return _mm_cvtsi128_si32(_mm_add_epi32(two, _mm_shuffle_epi32(two, 1)));
}

// The table's entries for eight depth values where all of them are small:
// the rounded value, exact as an int32.
MORVEX_AVX2 __m256i smallDisparities(const uint8_t* depth, float scale, float offset)
{
    const __m256 value = _mm256_cvtepi32_ps(loadBytes(depth));
    return _mm256_cvtps_epi32(_mm256_add_ps(_mm256_mul_ps(value, _mm256_set1_ps(scale)), _mm256_set1_ps(offset)));
}

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

    MORVEX_AVX2 void store(int j, __m256i tA, __m256i tB, __m256i shifts, __m256i differs, __m256i level,
                           __m256 magA, __m256 magB) const
    {
        storeInts(truncA + j, tA);
        storeInts(truncB + j, tB);
        storeInts(shift + j, shifts);
        storeInts(differ + j, differs);
        storeInts(sampleA + j, _mm256_add_epi32(_mm256_slli_epi32(tA, 8), level));
        storeInts(sampleB + j, _mm256_add_epi32(_mm256_slli_epi32(tB, 8), level));
        _mm256_storeu_ps(magnitudeA + j, magA);
        _mm256_storeu_ps(magnitudeB + j, magB);
    }
};

} // namespace

__attribute__((target("avx2"))) void truncateDepthRowAvx2(const DepthRowInputs& in, DepthRowScratch& s,
                                                          PoolingCursor& pooling)
{
    const uint8_t* depthA = in.depthA;
    const uint8_t* depthB = in.depthB;
    const uint8_t* view8 = in.view8;
    const float scale = in.disparityScale;
    const float offset = in.disparityOffset;
    const TruncationRows out(s);
    const Normalizing rangeA(in.rangeA);
    const Normalizing rangeB(in.rangeB);
    const int width = in.width;
    PoolingCursor cursor = pooling;
    int j = 0;
    if (in.smallDisparities) {
        // Whole numbers within +-2^21: the truncations are the numbers, their
        // differences are exact and need no limit.
        for (; j + kLanes <= width; j += kLanes) {
            cursor.advanceBy<kPooledInTruncation>();
            const __m256i tA = smallDisparities(depthA + j, scale, offset);
            const __m256i tB = smallDisparities(depthB + j, scale, offset);
            const __m256i same = _mm256_cmpeq_epi32(tA, tB);
            out.store(j, tA, tB, _mm256_sub_epi32(tA, tB), _mm256_xor_si256(same, _mm256_cmpeq_epi32(same, same)),
                      loadBytes(view8 + j), rangeA.magnitudes(_mm256_cvtepi32_ps(tA)),
                      rangeB.magnitudes(_mm256_cvtepi32_ps(tB)));
        }
    } else {
        for (; j + kLanes <= width; j += kLanes) {
            cursor.advanceBy<kPooledInTruncation>();
            const __m256 dispA = disparities(depthA + j, scale, offset);
            const __m256 dispB = disparities(depthB + j, scale, offset);
            const __m256 d = _mm256_sub_ps(dispA, dispB);
            out.store(j, limitedTruncation(dispA), limitedTruncation(dispB), limitedTruncation(d),
                      _mm256_castps_si256(_mm256_cmp_ps(d, _mm256_setzero_ps(), _CMP_NEQ_UQ)),
                      loadBytes(view8 + j), rangeA.magnitudes(dispA), rangeB.magnitudes(dispB));
        }
    }
    for (; j < width; ++j)
        depth_row_pixel::truncate(in, s, j);
    cursor.finish();
    pooling = cursor;
}

namespace {

// The values that both passes synthesise, for the full groups of eight pixels
// of the row in which the disparities differ somewhere.
__attribute__((target("avx2"), always_inline)) inline void synthesiseGroups(const DepthRowInputs& in,
                                                                            DepthRowScratch& s,
                                                                            PoolingCursor& cursor)
{
    const int width = in.width;
    const float* gradDisp = in.gradDisp;
    const int32_t* truncA = s.truncA.data();
    const int32_t* truncB = s.truncB.data();
    const int32_t* shifts = s.shift.data();
    const int32_t* differs = s.differ.data();
    const int32_t* sampleA = s.sampleA.data();
    const int32_t* sampleB = s.sampleB.data();
    float* selfValue = s.selfValue.data();
    float* invadValue = s.invadValue.data();
    const __m256 expWeight = _mm256_setr_ps(in.expWeight[0], in.expWeight[1], in.expWeight[2], in.expWeight[3],
                                            in.expWeight[4], in.expWeight[5], 0.0f, 0.0f);
    const __m256 edgeThreshold = _mm256_set1_ps(kEdgeThreshold);
    for (int j = 0; j + kLanes <= width; j += kLanes) {
        cursor.advanceBy<kPooledInPasses>();
        const __m256i differ = loadInts(differs + j);
        if (_mm256_testz_si256(differ, differ))
            continue;
        const __m256i column = columns(j);
        const __m256i shift = loadInts(shifts + j);
        const __m256 onEdge = _mm256_and_ps(_mm256_castsi256_ps(differ),
                                            _mm256_cmp_ps(_mm256_loadu_ps(gradDisp + j), edgeThreshold, _CMP_GT_OQ));
        const __m256i xSelf = _mm256_add_epi32(column, loadInts(truncA + j));
        const __m256i xInvad = _mm256_add_epi32(column, loadInts(truncB + j));
        _mm256_storeu_ps(selfValue + j,
                         passValues(expWeight, sampleB, width, xSelf, _mm256_add_epi32(column, shift), onEdge));
        _mm256_storeu_ps(invadValue + j,
                         passValues(expWeight, sampleA, width, xInvad, _mm256_sub_epi32(column, shift), onEdge));
    }
}

// The error terms of the same groups, from the synthesised values, and how
// many count. Returns the first pixel after the groups.
template <bool kKeepFloats>
__attribute__((target("avx2"), always_inline)) inline int errorTermsOfGroups(const DepthRowInputs& in,
                                                                             DepthRowScratch& s, RowTerms& terms,
                                                                             PoolingCursor& cursor,
                                                                             RowCounts& counts)
{
    const int width = in.width;
    const uint8_t* view8 = in.view8;
    const float* mixed = in.mixed;
    const float weightOffset = in.weightOffset;
    const float* magnitudeA = s.magnitudeA.data();
    const float* magnitudeB = s.magnitudeB.data();
    const int32_t* truncA = s.truncA.data();
    const int32_t* truncB = s.truncB.data();
    const int32_t* differs = s.differ.data();
    const float* selfValue = s.selfValue.data();
    const float* invadValue = s.invadValue.data();
    const TermRows<kKeepFloats> out(terms);

    // Lane counts, negated: a mask lane is -1.
    __m256i counted = _mm256_setzero_si256();
    __m256i disagreeing = _mm256_setzero_si256();
    int j = 0;
    for (; j + kLanes <= width; j += kLanes) {
        cursor.advanceBy<kPooledInErrors>();
        const __m256i column = columns(j);
        const __m256i differ = loadInts(differs + j);
        const __m256i countSelf = insideRow(_mm256_add_epi32(column, loadInts(truncA + j)), width);
        const __m256i countInvad =
            _mm256_blendv_epi8(countSelf, insideRow(_mm256_add_epi32(column, loadInts(truncB + j)), width), differ);
        counted = _mm256_add_epi32(counted, _mm256_add_epi32(countSelf, countInvad));
        disagreeing = _mm256_add_epi32(disagreeing, differ);

        const __m256 mix = _mm256_loadu_ps(mixed + j);
        const __m256 wSelf = _mm256_and_ps(weights(mix, magnitudeA + j, weightOffset), _mm256_castsi256_ps(countSelf));
        const __m256 wInvad =
            _mm256_and_ps(weights(mix, magnitudeB + j, weightOffset), _mm256_castsi256_ps(countInvad));

        // Where all eight agree, both errors are 0 and there are no
        // synthesised values.
        if (_mm256_testz_si256(differ, differ)) {
            const __m128 zero = _mm_setzero_ps();
            storeTerms(out, j, zero, lowHalf(wSelf), zero, lowHalf(wInvad));
            storeTerms(out, j + 4, zero, highHalf(wSelf), zero, highHalf(wInvad));
            continue;
        }
        // The errors four at a time, as their estimates are in double.
        const __m256 errorSelfMask = _mm256_castsi256_ps(_mm256_and_si256(differ, countSelf));
        const __m256 errorInvadMask = _mm256_castsi256_ps(_mm256_and_si256(differ, countInvad));
        const __m256i view = loadBytes(view8 + j);
        __m256i near = _mm256_setzero_si256();
        for (int half = 0; half < 2; ++half) {
            const int k = j + 4 * half;
            const bool low = half == 0;
            const __m256d viewValues =
                _mm256_cvtepi32_pd(low ? _mm256_castsi256_si128(view) : _mm256_extracti128_si256(view, 1));
            const __m256d self = scaledErrorEstimates(viewValues, selfValue + k);
            const __m256d invad = scaledErrorEstimates(viewValues, invadValue + k);
            near = _mm256_or_si256(near, nearHalfway(self, invad));
            storeTerms(out, k, squaredErrors(self, low ? lowHalf(errorSelfMask) : highHalf(errorSelfMask)),
                       low ? lowHalf(wSelf) : highHalf(wSelf),
                       squaredErrors(invad, low ? lowHalf(errorInvadMask) : highHalf(errorInvadMask)),
                       low ? lowHalf(wInvad) : highHalf(wInvad));
        }
        // Rarely an estimate lies too near a rounding boundary: the pixels
        // are worked out again one by one, exactly.
        if (!_mm256_testz_si256(near, near)) {
            RowCounts ignored;
            for (int lane = 0; lane < kLanes; ++lane)
                depth_row_pixel::errorTerms(in, s, terms, ignored, j + lane);
        }
    }
    counts.countedTerms -= sumLanes(counted);
    counts.disagreeingPixels -= sumLanes(disagreeing);
    return j;
}

} // namespace

// Two loops over the row, each with a short chain of dependent operations per
// group: the processor overlaps groups, where one loop's long chain (sample,
// division, error estimates) would keep it waiting.
__attribute__((target("avx2"))) RowCounts searchAndErrorTermsAvx2(const DepthRowInputs& in, DepthRowScratch& s,
                                                                   RowTerms& terms, PoolingCursor& pooling)
{
    PoolingCursor cursor = pooling;
    synthesiseGroups(in, s, cursor);
    RowCounts counts;
    const int tail = in.keepFloatTerms ? errorTermsOfGroups<true>(in, s, terms, cursor, counts)
                                       : errorTermsOfGroups<false>(in, s, terms, cursor, counts);
    for (int j = tail; j < in.width; ++j) {
        depth_row_pixel::passes(in, s, j);
        depth_row_pixel::errorTerms(in, s, terms, counts, j);
    }
    cursor.finish();
    pooling = cursor;
    return counts;
}
