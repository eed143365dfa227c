#pragma once

// The error terms of error_terms.h for four pixels at a time, as AVX2 code
// for the depth-row stages. Each lane does the scalar operations.

#include "metric/error_terms.h"

#include <immintrin.h>

#define MORVEX_AVX2 __attribute__((target("avx2"), always_inline)) inline

// scaledErrorEstimate's estimates for four pixels, in double.
MORVEX_AVX2 __m256d scaledErrorEstimates(__m256d view, const float* synthesised)
{
    const __m256d difference = _mm256_sub_pd(view, _mm256_cvtps_pd(_mm_loadu_ps(synthesised)));
    return _mm256_mul_pd(difference, _mm256_set1_pd(1.0 / 255.0));
}

// nearHalfway() of four self and four invading estimates, as a mask per lane:
// the lanes of the self estimates' low and high pairs, then of the invading
// ones' ({s0, s1, i0, i1, s2, s3, i2, i3}). The bits below float precision
// are the low 29 bits of a double, all in its low 32-bit half, so the test
// runs on those halves, eight at a time.
MORVEX_AVX2 __m256i nearHalfway(__m256d self, __m256d invad)
{
    const __m256i lowHalves =
        _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castpd_ps(self), _mm256_castpd_ps(invad), 0x88));
    const __m256i below = _mm256_and_si256(lowHalves, _mm256_set1_epi32(static_cast<int>(kBelowFloatPrecision)));
    const __m256i off = _mm256_sub_epi32(below, _mm256_set1_epi32(static_cast<int>(kHalfwayBits - kHalfwayMargin)));
    return _mm256_cmpeq_epi32(_mm256_min_epu32(off, _mm256_set1_epi32(2 * kHalfwayMargin)), off);
}

// The squared errors of four certain estimates, 0 where the mask is clear.
MORVEX_AVX2 __m128 squaredErrors(__m256d estimate, __m128 mask)
{
    const __m128 scaled = _mm256_cvtpd_ps(estimate);
    return _mm_and_ps(_mm_mul_ps(scaled, scaled), mask);
}
