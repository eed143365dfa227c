// The depth-row stages as AVX2 code, eight pixels at a time. Each lane does
// exactly the scalar operations of depth_row_pixel.h (no fused multiply-add:
// the target enables AVX2 alone), so the results are the same bits.
#include "metric/depth_row_pixel.h"

#include <immintrin.h>

#define MORVEX_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace {

constexpr int kLanes = 8;
// Pixels of the previous row pooled per eight pixels of a stage; two stages
// share the row.
constexpr int kPooledPerIteration = kLanes / 2;

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

MORVEX_AVX2 __m256i clampColumns(__m256i column, int width)
{
    return _mm256_min_epi32(_mm256_max_epi32(column, _mm256_setzero_si256()), _mm256_set1_epi32(width - 1));
}

// The samples at eight columns. Where the disparities are smooth the columns
// are consecutive, and one load replaces the gather.
MORVEX_AVX2 __m256i samplesAt(const int32_t* samples, __m256i p, int width)
{
    const int first = _mm256_cvtsi256_si32(p);
    const __m256i consecutive = columns(first);
    if (first <= width - kLanes && _mm256_movemask_epi8(_mm256_cmpeq_epi32(p, consecutive)) == -1)
        return loadInts(samples + first);
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(samples), p, 4);
}

// pass() for eight pixels: the sum over the start column and, in the lanes
// at edges, the columns of two correction steps; elsewhere those steps add
// +0 to both sums, which leaves them unchanged.
MORVEX_AVX2 __m256 passValues(const DepthRowInputs& in, const int32_t* followedSamples, __m256i x, __m256i start,
                              __m256 onEdge)
{
    const __m256 expWeight = _mm256_setr_ps(in.expWeight[0], in.expWeight[1], in.expWeight[2], in.expWeight[3],
                                            in.expWeight[4], in.expWeight[5], 0.0f, 0.0f);
    __m256 weighted = _mm256_setzero_ps();
    __m256 weights = _mm256_setzero_ps();
    __m256i p = clampColumns(start, in.width);
    // Groups of pixels away from edges, the most, skip the steps.
    const int steps = _mm256_movemask_ps(onEdge) != 0 ? kEdgeSteps : 0;
    for (int step = 0; step <= steps; ++step) {
        const __m256i sample = samplesAt(followedSamples, p, in.width);
        const __m256i y = _mm256_add_epi32(p, _mm256_srai_epi32(sample, 8));
        const __m256i distance = _mm256_sub_epi32(x, y);
        const __m256i n = _mm256_min_epi32(_mm256_abs_epi32(distance), _mm256_set1_epi32(5));
        __m256 w = _mm256_permutevar8x32_ps(expWeight, n);
        if (step > 0)
            w = _mm256_and_ps(w, onEdge);
        const __m256 intensity = _mm256_cvtepi32_ps(_mm256_and_si256(sample, _mm256_set1_epi32(255)));
        weighted = _mm256_add_ps(weighted, _mm256_mul_ps(w, intensity));
        weights = _mm256_add_ps(weights, w);
        p = clampColumns(_mm256_add_epi32(p, distance), in.width);
    }
    return _mm256_div_ps(weighted, weights);
}

MORVEX_AVX2 __m256 joinHalves(__m128 low, __m128 high)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}

// scaledErrorEstimate for eight pixels: the values, and all-ones lanes where
// they are certain.
MORVEX_AVX2 void scaledErrorEstimates(__m256 view, __m256 synthesised, __m256& value, __m256& certain)
{
    const __m256d reciprocal = _mm256_set1_pd(1.0 / 255.0);
    const __m256d marginFactor = _mm256_set1_pd(0x1p-48);
    __m128 values[2], lows[2], highs[2];
    for (int half = 0; half < 2; ++half) {
        const __m128 v = half == 0 ? _mm256_castps256_ps128(view) : _mm256_extractf128_ps(view, 1);
        const __m128 s = half == 0 ? _mm256_castps256_ps128(synthesised) : _mm256_extractf128_ps(synthesised, 1);
        const __m256d difference = _mm256_sub_pd(_mm256_cvtps_pd(v), _mm256_cvtps_pd(s));
        const __m256d estimate = _mm256_mul_pd(difference, reciprocal);
        const __m256d margin = _mm256_mul_pd(estimate, marginFactor);
        values[half] = _mm256_cvtpd_ps(estimate);
        lows[half] = _mm256_cvtpd_ps(_mm256_sub_pd(estimate, margin));
        highs[half] = _mm256_cvtpd_ps(_mm256_add_pd(estimate, margin));
    }
    value = joinHalves(values[0], values[1]);
    certain = _mm256_cmp_ps(joinHalves(lows[0], lows[1]), joinHalves(highs[0], highs[1]), _CMP_EQ_OQ);
}

MORVEX_AVX2 __m256i insideRow(__m256i column, int width)
{
    return _mm256_and_si256(_mm256_cmpgt_epi32(column, _mm256_set1_epi32(-1)),
                            _mm256_cmpgt_epi32(_mm256_set1_epi32(width), column));
}

MORVEX_AVX2 __m256 weights(const float* mixed, const float* magnitude, const uint8_t* depth, float offset)
{
    const __m256 m = _mm256_i32gather_ps(magnitude, loadBytes(depth), 4);
    return _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(mixed), m), _mm256_set1_ps(offset));
}

MORVEX_AVX2 int countLanes(__m256i mask)
{
    return __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(mask))));
}

} // namespace

__attribute__((target("avx2"))) void truncateDepthRowAvx2(const DepthRowInputs& in, DepthRowScratch& s,
                                                          PoolingCursor& pooling)
{
    const __m256i one = _mm256_set1_epi32(1);
    PoolingCursor cursor = pooling;
    int j = 0;
    for (; j + kLanes <= in.width; j += kLanes) {
        cursor.advance(kPooledPerIteration);
        const __m256 dispA = _mm256_i32gather_ps(in.disparity, loadBytes(in.depthA + j), 4);
        const __m256 dispB = _mm256_i32gather_ps(in.disparity, loadBytes(in.depthB + j), 4);
        const __m256 d = _mm256_sub_ps(dispA, dispB);
        storeInts(&s.truncA[j], limitedTruncation(dispA));
        storeInts(&s.truncB[j], limitedTruncation(dispB));
        storeInts(&s.shift[j], limitedTruncation(d));
        const __m256i differ = _mm256_castps_si256(_mm256_cmp_ps(d, _mm256_setzero_ps(), _CMP_NEQ_UQ));
        storeInts(&s.differ[j], _mm256_and_si256(differ, one));
        const __m256i level = loadBytes(in.view8 + j);
        storeInts(&s.sampleA[j], _mm256_add_epi32(_mm256_slli_epi32(loadInts(&s.truncA[j]), 8), level));
        storeInts(&s.sampleB[j], _mm256_add_epi32(_mm256_slli_epi32(loadInts(&s.truncB[j]), 8), level));
    }
    for (; j < in.width; ++j)
        depth_row_pixel::truncate(in, s, j);
    cursor.finish();
    pooling = cursor;
}

__attribute__((target("avx2"))) void searchPassesAvx2(const DepthRowInputs& in, DepthRowScratch& s,
                                                      PoolingCursor& pooling)
{
    const __m256 edgeThreshold = _mm256_set1_ps(kEdgeThreshold);
    PoolingCursor cursor = pooling;
    int j = 0;
    for (; j + kLanes <= in.width; j += kLanes) {
        cursor.advance(kPooledPerIteration);
        const __m256i column = columns(j);
        const __m256i shift = loadInts(&s.shift[j]);
        const __m256 differ = _mm256_castsi256_ps(_mm256_cmpgt_epi32(loadInts(&s.differ[j]), _mm256_setzero_si256()));
        const __m256 onEdge =
            _mm256_and_ps(differ, _mm256_cmp_ps(_mm256_loadu_ps(in.gradDisp + j), edgeThreshold, _CMP_GT_OQ));
        // Where all eight agree, no error is made of the values.
        if (_mm256_movemask_ps(differ) == 0)
            continue;
        const __m256i xSelf = _mm256_add_epi32(column, loadInts(&s.truncA[j]));
        const __m256i xInvad = _mm256_add_epi32(column, loadInts(&s.truncB[j]));
        _mm256_storeu_ps(&s.selfValue[j],
                         passValues(in, s.sampleB.data(), xSelf, _mm256_add_epi32(column, shift), onEdge));
        _mm256_storeu_ps(&s.invadValue[j],
                         passValues(in, s.sampleA.data(), xInvad, _mm256_sub_epi32(column, shift), onEdge));
    }
    for (; j < in.width; ++j)
        depth_row_pixel::passes(in, s, j);
    cursor.finish();
    pooling = cursor;
}

__attribute__((target("avx2"))) RowCounts depthErrorTermsAvx2(const DepthRowInputs& in, const DepthRowScratch& s,
                                                               RowTerms& terms)
{
    RowCounts counts;
    int j = 0;
    for (; j + kLanes <= in.width; j += kLanes) {
        const __m256i column = columns(j);
        const __m256i differ = _mm256_cmpgt_epi32(loadInts(&s.differ[j]), _mm256_setzero_si256());
        const __m256i countSelf = insideRow(_mm256_add_epi32(column, loadInts(&s.truncA[j])), in.width);
        const __m256i insideInvad = insideRow(_mm256_add_epi32(column, loadInts(&s.truncB[j])), in.width);
        const __m256i countInvad = _mm256_blendv_epi8(countSelf, insideInvad, differ);

        // Where all eight agree, both errors are 0.
        int uncertain = 0;
        if (_mm256_movemask_ps(_mm256_castsi256_ps(differ)) == 0) {
            _mm256_storeu_ps(&terms.errorSelf[j], _mm256_setzero_ps());
            _mm256_storeu_ps(&terms.errorInvad[j], _mm256_setzero_ps());
        } else {
            const __m256 view = _mm256_loadu_ps(in.view + j);
            __m256 self, selfCertain, invad, invadCertain;
            scaledErrorEstimates(view, _mm256_loadu_ps(&s.selfValue[j]), self, selfCertain);
            scaledErrorEstimates(view, _mm256_loadu_ps(&s.invadValue[j]), invad, invadCertain);
            const __m256 errorSelfMask = _mm256_castsi256_ps(_mm256_and_si256(differ, countSelf));
            const __m256 errorInvadMask = _mm256_castsi256_ps(_mm256_and_si256(differ, countInvad));
            _mm256_storeu_ps(&terms.errorSelf[j], _mm256_and_ps(_mm256_mul_ps(self, self), errorSelfMask));
            _mm256_storeu_ps(&terms.errorInvad[j], _mm256_and_ps(_mm256_mul_ps(invad, invad), errorInvadMask));
            uncertain = _mm256_movemask_ps(_mm256_andnot_ps(_mm256_and_ps(selfCertain, invadCertain),
                                                            _mm256_castsi256_ps(differ)));
        }

        const __m256 weightSelf = weights(in.mixed + j, in.magnitudeA, in.depthA + j, in.weightOffset);
        const __m256 weightInvad = weights(in.mixed + j, in.magnitudeB, in.depthB + j, in.weightOffset);
        _mm256_storeu_ps(&terms.weightSelf[j], _mm256_and_ps(weightSelf, _mm256_castsi256_ps(countSelf)));
        _mm256_storeu_ps(&terms.weightInvad[j], _mm256_and_ps(weightInvad, _mm256_castsi256_ps(countInvad)));

        counts.countedTerms += countLanes(countSelf) + countLanes(countInvad);
        counts.disagreeingPixels += countLanes(differ);

        // Rarely an estimate lies too near a rounding boundary: those lanes
        // are worked out exactly.
        if (uncertain != 0)
            for (int lane = 0; lane < kLanes; ++lane)
                if (uncertain & (1 << lane)) {
                    RowCounts ignored;
                    depth_row_pixel::errorTerms(in, s, terms, ignored, j + lane);
                }
    }
    for (; j < in.width; ++j)
        depth_row_pixel::errorTerms(in, s, terms, counts, j);
    return counts;
}
