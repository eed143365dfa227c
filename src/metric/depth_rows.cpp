#include "metric/depth_rows.h"

#include "metric/depth_row_pixel.h"

#if defined(MORVEX_VECTOR_CODE) && defined(__x86_64__) && defined(__GNUC__)
#define MORVEX_AVX2_ROWS 1
// The AVX2 forms, in depth_rows_avx2.cpp.
void truncateDepthRowAvx2(const DepthRowInputs& in, DepthRowScratch& scratch, PoolingCursor& pooling);
RowCounts searchAndErrorTermsAvx2(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms,
                                  PoolingCursor& pooling);
#endif

bool processorHasDepthRowVectorCode()
{
#ifdef MORVEX_AVX2_ROWS
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

void truncateDepthRow(const DepthRowInputs& in, DepthRowScratch& scratch, PoolingCursor& pooling)
{
#ifdef MORVEX_AVX2_ROWS
    if (in.vectorCode && processorHasDepthRowVectorCode())
        return truncateDepthRowAvx2(in, scratch, pooling);
#endif
    pooling.finish();
    for (int j = 0; j < in.width; ++j)
        depth_row_pixel::truncate(in, scratch, j);
}

RowCounts searchAndErrorTerms(const DepthRowInputs& in, DepthRowScratch& scratch, RowTerms& terms,
                              PoolingCursor& pooling)
{
#ifdef MORVEX_AVX2_ROWS
    if (in.vectorCode && processorHasDepthRowVectorCode())
        return searchAndErrorTermsAvx2(in, scratch, terms, pooling);
#endif
    pooling.finish();
    RowCounts counts;
    for (int j = 0; j < in.width; ++j) {
        depth_row_pixel::passes(in, scratch, j);
        depth_row_pixel::errorTerms(in, scratch, terms, counts, j);
    }
    return counts;
}

PoolingShares poolingShares(const RowTerms& terms, int width)
{
    const int first = width / 8 * kPooledInTruncation;
    return {PoolingCursor(terms, 0, first, {}), PoolingCursor(terms, first, width, {})};
}
