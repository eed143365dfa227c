// The depth-row stages as AVX2 code, eight pixels at a time. Each lane does
// exactly the scalar operations of depth_row_pixel.h (no fused multiply-add:
// the target enables AVX2 alone), so the results are the same bits. Row
// arrays are reached through pointers held in locals: a vector store may
// alias any memory, and would otherwise make the compiler reload them.
#include "metric/depth_row_pixel.h"

#include <immintrin.h>

#define MORVEX_AVX2 __attribute__((target("avx2"), always_inline)) inline

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

// The samples at eight columns. Where the disparities are smooth the columns
// are consecutive, and one load replaces the gather.
MORVEX_AVX2 __m256i samplesAt(const int32_t* samples, __m256i p, int width)
{
    const int first = _mm256_cvtsi256_si32(p);
    if (first <= width - kLanes && _mm256_movemask_epi8(_mm256_cmpeq_epi32(p, columns(first))) == -1)
        return loadInts(samples + first);
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(samples), p, 4);
}

// pass() for eight pixels: the sum over the start column and, in the lanes
// at edges, the columns of two correction steps; elsewhere those steps add
// +0 to both sums, which leaves them unchanged.
MORVEX_AVX2 __m256 passValues(__m256 expWeight, const int32_t* followedSamples, int width, __m256i x,
                              __m256i start, __m256 onEdge)
{
    __m256 weighted = _mm256_setzero_ps();
    __m256 weights = _mm256_setzero_ps();
    __m256i p = clampColumns(start, width);
    // Groups of pixels away from edges, the most, skip the steps.
    const int steps = _mm256_movemask_ps(onEdge) != 0 ? kEdgeSteps : 0;
    for (int step = 0; step <= steps; ++step) {
        const __m256i sample = samplesAt(followedSamples, p, width);
        const __m256i y = _mm256_add_epi32(p, _mm256_srai_epi32(sample, 8));
        const __m256i distance = _mm256_sub_epi32(x, y);
        const __m256i n = _mm256_min_epi32(_mm256_abs_epi32(distance), _mm256_set1_epi32(5));
        // A single sample that arrives exactly has weight 1: the value is
        // its intensity, 1 * I / 1, with no division.
        if (steps == 0 && _mm256_testz_si256(n, n))
            return _mm256_cvtepi32_ps(_mm256_and_si256(sample, _mm256_set1_epi32(255)));
        __m256 w = _mm256_permutevar8x32_ps(expWeight, n);
        if (step > 0)
            w = _mm256_and_ps(w, onEdge);
        const __m256 intensity = _mm256_cvtepi32_ps(_mm256_and_si256(sample, _mm256_set1_epi32(255)));
        weighted = _mm256_add_ps(weighted, _mm256_mul_ps(w, intensity));
        weights = _mm256_add_ps(weights, w);
        p = clampColumns(_mm256_add_epi32(p, distance), width);
    }
    return _mm256_div_ps(weighted, weights);
}

MORVEX_AVX2 __m256 joinHalves(__m128 low, __m128 high)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}

// scaledErrorEstimate for eight pixels: the values, and a bit per lane that
// is set where they are certain.
MORVEX_AVX2 __m256 scaledErrorEstimates(const __m256d view[2], __m256 synthesised, int& certain)
{
    const __m256d reciprocal = _mm256_set1_pd(1.0 / 255.0);
    const __m256i belowFloatPrecision = _mm256_set1_epi64x(static_cast<long long>(kBelowFloatPrecision));
    const __m256i start = _mm256_set1_epi64x(static_cast<long long>(kHalfwayBits - kHalfwayMargin));
    const __m256i width = _mm256_set1_epi64x(static_cast<long long>(2 * kHalfwayMargin));
    __m128 values[2];
    certain = 0;
    for (int half = 0; half < 2; ++half) {
        const __m128 s = half == 0 ? _mm256_castps256_ps128(synthesised) : _mm256_extractf128_ps(synthesised, 1);
        const __m256d difference = _mm256_sub_pd(view[half], _mm256_cvtps_pd(s));
        const __m256d estimate = _mm256_mul_pd(difference, reciprocal);
        values[half] = _mm256_cvtpd_ps(estimate);
        // Off the halfway pattern by more than the margin: the offset, below
        // 2^29 in magnitude, is outside 0 .. 2 * margin.
        const __m256i off = _mm256_sub_epi64(_mm256_and_si256(_mm256_castpd_si256(estimate), belowFloatPrecision), start);
        const __m256i near = _mm256_andnot_si256(_mm256_cmpgt_epi64(_mm256_setzero_si256(), off),
                                                 _mm256_cmpgt_epi64(_mm256_add_epi64(width, _mm256_set1_epi64x(1)), off));
        certain |= (_mm256_movemask_pd(_mm256_castsi256_pd(near)) ^ 0xf) << (4 * half);
    }
    return joinHalves(values[0], values[1]);
}

MORVEX_AVX2 __m256i insideRow(__m256i column, int width)
{
    return _mm256_and_si256(_mm256_cmpgt_epi32(column, _mm256_set1_epi32(-1)),
                            _mm256_cmpgt_epi32(_mm256_set1_epi32(width), column));
}

MORVEX_AVX2 __m256 weights(__m256 mixed, const float* magnitude, float offset)
{
    return _mm256_add_ps(_mm256_mul_ps(mixed, _mm256_loadu_ps(magnitude)), _mm256_set1_ps(offset));
}

// ValueRange::normalized of |disparity| for eight pixels.
MORVEX_AVX2 __m256 magnitudes(__m256 disparity, const ValueRange& range)
{
    if (range.hi == range.lo)
        return _mm256_setzero_ps();
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), disparity);
    return _mm256_div_ps(_mm256_sub_ps(magnitude, _mm256_set1_ps(range.lo)), _mm256_set1_ps(range.hi - range.lo));
}

// RowTerms::makeAddends for four pixels from their final terms.
MORVEX_AVX2 void makeAddends(RowTerms& terms, int j)
{
    const __m256d wSelf = _mm256_cvtps_pd(_mm_loadu_ps(terms.weightSelf.data() + j));
    const __m256d wInvad = _mm256_cvtps_pd(_mm_loadu_ps(terms.weightInvad.data() + j));
    _mm256_storeu_pd(terms.addedWeightSelf.data() + j, wSelf);
    _mm256_storeu_pd(terms.addedWeightInvad.data() + j, wInvad);
    _mm256_storeu_pd(terms.addedErrorSelf.data() + j,
                     _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(terms.errorSelf.data() + j)), wSelf));
    _mm256_storeu_pd(terms.addedErrorInvad.data() + j,
                     _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(terms.errorInvad.data() + j)), wInvad));
}

MORVEX_AVX2 int countLanes(__m256i mask)
{
    return __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(mask))));
}

} // namespace

__attribute__((target("avx2"))) void truncateDepthRowAvx2(const DepthRowInputs& in, DepthRowScratch& s,
                                                          PoolingCursor& pooling)
{
    const uint8_t* depthA = in.depthA;
    const uint8_t* depthB = in.depthB;
    const uint8_t* view8 = in.view8;
    const float scale = in.disparityScale;
    const float offset = in.disparityOffset;
    int32_t* truncA = s.truncA.data();
    int32_t* truncB = s.truncB.data();
    int32_t* shift = s.shift.data();
    int32_t* differ = s.differ.data();
    int32_t* sampleA = s.sampleA.data();
    int32_t* sampleB = s.sampleB.data();
    float* magnitudeA = s.magnitudeA.data();
    float* magnitudeB = s.magnitudeB.data();
    const ValueRange rangeA = in.rangeA;
    const ValueRange rangeB = in.rangeB;
    const __m256i one = _mm256_set1_epi32(1);
    PoolingCursor cursor = pooling;
    int j = 0;
    for (; j + kLanes <= in.width; j += kLanes) {
        cursor.advanceBy<kPooledInTruncation>();
        const __m256 dispA = disparities(depthA + j, scale, offset);
        const __m256 dispB = disparities(depthB + j, scale, offset);
        const __m256 d = _mm256_sub_ps(dispA, dispB);
        const __m256i tA = limitedTruncation(dispA);
        const __m256i tB = limitedTruncation(dispB);
        storeInts(truncA + j, tA);
        storeInts(truncB + j, tB);
        storeInts(shift + j, limitedTruncation(d));
        const __m256i differs = _mm256_castps_si256(_mm256_cmp_ps(d, _mm256_setzero_ps(), _CMP_NEQ_UQ));
        storeInts(differ + j, _mm256_and_si256(differs, one));
        const __m256i level = loadBytes(view8 + j);
        storeInts(sampleA + j, _mm256_add_epi32(_mm256_slli_epi32(tA, 8), level));
        storeInts(sampleB + j, _mm256_add_epi32(_mm256_slli_epi32(tB, 8), level));
        _mm256_storeu_ps(magnitudeA + j, magnitudes(dispA, rangeA));
        _mm256_storeu_ps(magnitudeB + j, magnitudes(dispB, rangeB));
    }
    for (; j < in.width; ++j)
        depth_row_pixel::truncate(in, s, j);
    cursor.finish();
    pooling = cursor;
}

__attribute__((target("avx2"))) RowCounts searchAndErrorTermsAvx2(const DepthRowInputs& in, DepthRowScratch& s,
                                                                   RowTerms& terms, PoolingCursor& pooling)
{
    const int width = in.width;
    const float* view = in.view;
    const float* mixed = in.mixed;
    const float* gradDisp = in.gradDisp;
    const float weightOffset = in.weightOffset;
    const float* magnitudeA = s.magnitudeA.data();
    const float* magnitudeB = s.magnitudeB.data();
    const int32_t* truncA = s.truncA.data();
    const int32_t* truncB = s.truncB.data();
    const int32_t* shifts = s.shift.data();
    const int32_t* differs = s.differ.data();
    const int32_t* sampleA = s.sampleA.data();
    const int32_t* sampleB = s.sampleB.data();
    float* selfValue = s.selfValue.data();
    float* invadValue = s.invadValue.data();
    float* errorSelf = terms.errorSelf.data();
    float* errorInvad = terms.errorInvad.data();
    float* weightSelf = terms.weightSelf.data();
    float* weightInvad = terms.weightInvad.data();
    const __m256 expWeight = _mm256_setr_ps(in.expWeight[0], in.expWeight[1], in.expWeight[2], in.expWeight[3],
                                            in.expWeight[4], in.expWeight[5], 0.0f, 0.0f);
    const __m256 edgeThreshold = _mm256_set1_ps(kEdgeThreshold);

    RowCounts counts;
    PoolingCursor cursor = pooling;
    int j = 0;
    for (; j + kLanes <= width; j += kLanes) {
        cursor.advanceBy<kPooledInSearch>();
        const __m256i column = columns(j);
        const __m256i differ = _mm256_cmpgt_epi32(loadInts(differs + j), _mm256_setzero_si256());
        const __m256i xSelf = _mm256_add_epi32(column, loadInts(truncA + j));
        const __m256i xInvad = _mm256_add_epi32(column, loadInts(truncB + j));
        const __m256i countSelf = insideRow(xSelf, width);
        const __m256i countInvad = _mm256_blendv_epi8(countSelf, insideRow(xInvad, width), differ);

        // Where all eight agree, both errors are 0 and the passes are not
        // needed.
        int uncertain = 0;
        const int differing = _mm256_movemask_ps(_mm256_castsi256_ps(differ));
        if (differing == 0) {
            _mm256_storeu_ps(errorSelf + j, _mm256_setzero_ps());
            _mm256_storeu_ps(errorInvad + j, _mm256_setzero_ps());
        } else {
            const __m256 onEdge = _mm256_and_ps(_mm256_castsi256_ps(differ),
                                                _mm256_cmp_ps(_mm256_loadu_ps(gradDisp + j), edgeThreshold, _CMP_GT_OQ));
            const __m256i shift = loadInts(shifts + j);
            const __m256 selfValues =
                passValues(expWeight, sampleB, width, xSelf, _mm256_add_epi32(column, shift), onEdge);
            const __m256 invadValues =
                passValues(expWeight, sampleA, width, xInvad, _mm256_sub_epi32(column, shift), onEdge);
            _mm256_storeu_ps(selfValue + j, selfValues);
            _mm256_storeu_ps(invadValue + j, invadValues);

            const __m256d viewHalves[2] = {_mm256_cvtps_pd(_mm_loadu_ps(view + j)),
                                           _mm256_cvtps_pd(_mm_loadu_ps(view + j + 4))};
            int selfCertain, invadCertain;
            const __m256 self = scaledErrorEstimates(viewHalves, selfValues, selfCertain);
            const __m256 invad = scaledErrorEstimates(viewHalves, invadValues, invadCertain);
            const __m256 errorSelfMask = _mm256_castsi256_ps(_mm256_and_si256(differ, countSelf));
            const __m256 errorInvadMask = _mm256_castsi256_ps(_mm256_and_si256(differ, countInvad));
            _mm256_storeu_ps(errorSelf + j, _mm256_and_ps(_mm256_mul_ps(self, self), errorSelfMask));
            _mm256_storeu_ps(errorInvad + j, _mm256_and_ps(_mm256_mul_ps(invad, invad), errorInvadMask));
            uncertain = ~(selfCertain & invadCertain) & differing;
        }

        const __m256 mix = _mm256_loadu_ps(mixed + j);
        const __m256 wSelf = weights(mix, magnitudeA + j, weightOffset);
        const __m256 wInvad = weights(mix, magnitudeB + j, weightOffset);
        _mm256_storeu_ps(weightSelf + j, _mm256_and_ps(wSelf, _mm256_castsi256_ps(countSelf)));
        _mm256_storeu_ps(weightInvad + j, _mm256_and_ps(wInvad, _mm256_castsi256_ps(countInvad)));

        counts.countedTerms += countLanes(countSelf) + countLanes(countInvad);
        counts.disagreeingPixels += __builtin_popcount(static_cast<unsigned>(differing));

        // Rarely an estimate lies too near a rounding boundary: those lanes
        // are worked out exactly.
        if (uncertain != 0)
            for (int lane = 0; lane < kLanes; ++lane)
                if (uncertain & (1 << lane)) {
                    RowCounts ignored;
                    depth_row_pixel::errorTerms(in, s, terms, ignored, j + lane);
                }
        makeAddends(terms, j);
        makeAddends(terms, j + 4);
    }
    for (; j < width; ++j) {
        depth_row_pixel::passes(in, s, j);
        depth_row_pixel::errorTerms(in, s, terms, counts, j);
    }
    cursor.finish();
    pooling = cursor;
    return counts;
}
