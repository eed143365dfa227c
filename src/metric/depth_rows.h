#pragma once

// The per-pixel work of the search and the error terms for a row of an 8-bit
// view whose disparities come from 8-bit depth maps, in the common settings
// (a search window of one column, two correction steps only at disparity
// edges).
// It is split into two stages whose pixels do not depend on each other, so
// that they run as vector code: one Highway source (depth_rows.cpp) for every
// processor, with the same results on each.

#include "metric/value_range.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace morvex::detail {

// Memory for a row array that shares no cache line with any other: the two
// views are computed on two threads, and arrays allocated one after the
// other would otherwise bounce the lines at their ends between the cores.
template <class T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr size_t kLine = 64;

    CacheLineAllocator() = default;
    template <class U>
    CacheLineAllocator(const CacheLineAllocator<U>&)
    {
    }

    T* allocate(size_t n)
    {
        const size_t bytes = (n * sizeof(T) + kLine - 1) / kLine * kLine;
        return static_cast<T*>(::operator new(bytes, std::align_val_t(kLine)));
    }
    void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t(kLine)); }

    template <class U>
    bool operator==(const CacheLineAllocator<U>&) const
    {
        return true;
    }
    template <class U>
    bool operator!=(const CacheLineAllocator<U>&) const
    {
        return false;
    }
};

template <class T>
using RowArray = std::vector<T, CacheLineAllocator<T>>;

// What the stages read of one row.
struct DepthRowInputs {
    const uint8_t* depthA;      // the row's depth values of set A
    const uint8_t* depthB;      // and of set B
    const uint8_t* view8;       // the row's intensities
    const float* mixed;         // the row's mixed edge strength
    const float* gradDisp;      // the row's normalised edge strength of dispA
    const float* disparity;     // [256]: disparity of a depth value: the rounded
    float disparityScale;       // depth value * disparityScale + disparityOffset
    float disparityOffset;
    const float* magnitudeA;    // [256]: |disparity| normalised over set A's range
    const float* magnitudeB;    // [256]: |disparity| normalised over set B's range
    ValueRange rangeA, rangeB;  // those ranges
    const float* expWeight;     // [6]: exp(-n)
    float weightOffset;         // added to every weight
    int width;
    bool keepFloatTerms;        // the float terms are wanted (for maps), not only the addends
    bool smallDisparities;      // every disparity lies within +-kSmallDisparity
    bool vectorCode;            // the stages may run as vector code, where the processor has it
};

// Disparities and columns are 32-bit here, with disparities limited to
// +-2^22: a disparity that large sends any column of a row up to 2^21 pixels
// wide outside the row, and clamps any search column to the border, as the
// unlimited one does; a sample whose disparity is that large lies at least 5
// columns from any arrival inside the row. (Where the arrival column of the
// visited pixel is outside the row, the pass does not count.) A limited
// disparity and an intensity fit in one int32 as disparity * 256 + intensity.
constexpr float kDisparityLimit = 4194304.0f; // 2^22
// Disparities of a camera's usual range: within +-2^21 their differences lie
// within the limit, and all of them are exact as floats and as int32.
constexpr float kSmallDisparity = 2097152.0f; // 2^21
constexpr int kWidestDepthRow = 1 << 21;
constexpr int kEdgeSteps = 2;
// Row arrays run on past the row's end by twice the widest vector any
// target has (SVE's 2048 bits), so that the last group of a row is a whole
// vector, and so is the second of two vectors loaded around a column.
constexpr int kRowPadding = 128;

// Working arrays of a row, one element per pixel. The samples' arrays also
// run on before the row's start, so that a window of two vectors around
// any column of the row lies inside them.
struct DepthRowScratch {
    RowArray<int32_t> paddedSampleA, paddedSampleB; // truncated disparity of set A/B * 256 + intensity
    RowArray<int32_t> shiftAndCounts;               // truncated dispA - dispB, and which error terms count
    RowArray<float> selfValue, invadValue;          // the values the passes synthesise
    explicit DepthRowScratch(int width)
        : paddedSampleA(width + 2 * kRowPadding), paddedSampleB(width + 2 * kRowPadding),
          shiftAndCounts(width + kRowPadding), selfValue(width + kRowPadding), invadValue(width + kRowPadding)
    {
    }

    int32_t* sampleA() { return paddedSampleA.data() + kRowPadding; }
    int32_t* sampleB() { return paddedSampleB.data() + kRowPadding; }
};

// What the pooling adds for one pixel: each term's weight, and its error
// times its weight, in double. The weight and the weighted error of a term
// lie side by side, as the pooling adds them, to its two sums at once.
struct PixelAddends {
    double weightSelf, weightedErrorSelf;
    double weightInvad, weightedErrorInvad;
};
static_assert(sizeof(PixelAddends) == 4 * sizeof(double), "the vector code stores four addends per pixel");

// The error terms of a row: self and invading error and weight per pixel. A
// term that does not count has weight 0 and error 0. Beside them what the
// pooling adds. The vector stages write the float errors only where they
// are asked to keep them (the weights always).
struct RowTerms {
    RowArray<float> errorSelf, weightSelf, errorInvad, weightInvad;
    RowArray<PixelAddends> added;
    explicit RowTerms(int width)
        : errorSelf(width + kRowPadding), weightSelf(width + kRowPadding), errorInvad(width + kRowPadding),
          weightInvad(width + kRowPadding), added(width + kRowPadding)
    {
    }

    void makeAddends(int j)
    {
        PixelAddends& a = added[j];
        a.weightSelf = weightSelf[j];
        a.weightedErrorSelf = static_cast<double>(errorSelf[j]) * a.weightSelf;
        a.weightInvad = weightInvad[j];
        a.weightedErrorInvad = static_cast<double>(errorInvad[j]) * a.weightInvad;
    }
};

struct RowCounts {
    long long countedTerms = 0;
    long long disagreeingPixels = 0;
};

// The two sums of the pooling: chains of dependent additions in a fixed
// order, pixel by pixel, the self term before the invading term. A term that
// does not count adds +0, which leaves a sum of non-negative terms unchanged.
// The two chains are the lanes of one vector: {weight sum, weighted error sum}.
struct PoolingSums {
    using Lanes = double __attribute__((vector_size(16)));
    Lanes lanes = {0.0, 0.0};

    double weightSum() const { return lanes[0]; }
    double weightedErrorSum() const { return lanes[1]; }
};

// Pools the terms of pixels [next, end) of a row, in order, a few at a time.
// The additions are latency-bound: made between the independent work of the
// stages below (on the previous row's terms), they cost little more than
// that work alone. The sums stay in registers inside a stage's loop.
struct PoolingCursor {
    const PixelAddends* next;
    const PixelAddends* end;
    PoolingSums sums;

    PoolingCursor(const RowTerms& terms, int begin, int end, PoolingSums sums)
        : next(terms.added.data() + begin), end(terms.added.data() + end), sums(sums)
    {
    }

    void add(const PixelAddends& a)
    {
        PoolingSums::Lanes self, invad;
        std::memcpy(&self, &a.weightSelf, sizeof self);
        std::memcpy(&invad, &a.weightInvad, sizeof invad);
        sums.lanes += self;
        sums.lanes += invad;
    }

    void advance(std::ptrdiff_t count)
    {
        for (const PixelAddends* stop = next + std::min(count, end - next); next < stop; ++next)
            add(*next);
    }

    // advance(kCount), unrolled: the stages' shares (below) never reach past
    // the end.
    template <int kCount>
    void advanceBy()
    {
        assert(next + kCount <= end);
        for (int i = 0; i < kCount; ++i)
            add(next[i]);
        next += kCount;
    }

    void finish() { advance(end - next); }
};

// Stage 1: truncated disparities, shifts, samples; which terms count, their
// weights (into `terms`), and how many count. Pools the cursor's terms on
// the way (its share of poolingShares()).
RowCounts truncateDepthRow(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms,
                           PoolingCursor& pooling);

// Stage 2: the values that both passes synthesise where an error counts,
// the errors from them, and what the pooling adds. Pools the cursor's terms
// on the way (its share of poolingShares()).
void searchAndErrorTerms(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms,
                         PoolingCursor& pooling);

// Pools a row's terms inside the stages of the next row, each taking a share
// that fits in the shadow of its own work: per group of eight pixels of its
// own, the truncation pools one pixel and the search seven, four while it
// synthesises values and three while it makes the error terms. The row
// pooled is as wide as the row searched (before the first row, a row of
// zeros, which leaves the sums at 0).
constexpr int kPooledInTruncation = 1;
constexpr int kPooledInPasses = 4;
constexpr int kPooledInErrors = 3;
struct PoolingShares {
    PoolingCursor truncate, search;
};
PoolingShares poolingShares(const RowTerms& terms, int width);

// For the tests: nearHalfway() of error_terms.h for `count` estimates, as
// the error stage decides it on the best target chosen (see
// hwy::SetSupportedTargetsForTest), with each estimate in the place of a
// self and of an invading term; and the targets this processor can run of
// those compiled.
void nearHalfwayLanes(const double* estimates, size_t count, bool* asSelf, bool* asInvad);
std::vector<int64_t> depthRowTargets();

} // namespace morvex::detail
