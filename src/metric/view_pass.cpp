#include "metric/view_pass.h"

#include "metric/settings.h"
#include "metric/depth_rows.h"
#include "metric/error_terms.h"
#include "metric/similarity_search.h"

#include <memory>
#include <vector>

namespace morvex::detail {

namespace {

// One row of the disparities through the depth tables.
struct DepthRow {
    const uint8_t* a;
    const uint8_t* b;
    const DepthDisparities* tables;

    float dispA(int64_t j) const { return tables->disparity[a[j]]; }
    float dispB(int64_t j) const { return tables->disparity[b[j]]; }
    int64_t truncA(int64_t j) const { return tables->truncated[a[j]]; }
    int64_t truncB(int64_t j) const { return tables->truncated[b[j]]; }
    float magnitudeA(int64_t j) const { return tables->magnitudeA[a[j]]; }
    float magnitudeB(int64_t j) const { return tables->magnitudeB[b[j]]; }
};

// One row of float disparities, with their truncations and normalised
// magnitudes worked out for the row beforehand.
struct FloatRow {
    const float* a;
    const float* b;
    const int32_t* ta;
    const int32_t* tb;
    const float* magA;
    const float* magB;

    float dispA(int64_t j) const { return a[j]; }
    float dispB(int64_t j) const { return b[j]; }
    int64_t truncA(int64_t j) const { return ta[j]; }
    int64_t truncB(int64_t j) const { return tb[j]; }
    float magnitudeA(int64_t j) const { return magA[j]; }
    float magnitudeB(int64_t j) const { return magB[j]; }
};

struct PoolSums {
    PoolingSums sums;
    RowCounts counts;
};

bool insideRow(int64_t column, int64_t width)
{
    return column >= 0 && column <= width - 1;
}

// What every row needs besides its disparities.
struct RowContext {
    const float* view;
    const uint8_t* view8; // null for a float view
    const float* gradDisp;
    const float* mixed;
    int width;
    const float* expWeight;
    bool mapsWanted; // the row's float terms are written to maps
};

// The search of both passes and the error terms of one row, for any form of
// the disparities and any search settings.
template <class Row>
RowCounts searchRow(const Row& in, const RowContext& row, RowTerms& terms)
{
    const float offset = g_weightOffset;
    const int64_t width = row.width;
    const float* view = row.view;
    RowCounts counts;

    const auto followB = [&in](int64_t k) { return in.truncB(k); };
    const auto followA = [&in](int64_t k) { return in.truncA(k); };
    const SearchRow<decltype(followB)> selfRow{view, followB, width, row.expWeight};
    const SearchRow<decltype(followA)> invadRow{view, followA, width, row.expWeight};

    for (int64_t j = 0; j < width; ++j) {
        const float d = in.dispA(j) - in.dispB(j);
        const int64_t xSelf = j + in.truncA(j);
        bool countSelf = false;
        bool countInvad = false;
        float errorSelf = 0.0f;
        float errorInvad = 0.0f;
        if (d == 0.0f) {
            // Both copies keep the view's own value here: errors 0.
            countSelf = countInvad = insideRow(xSelf, width);
        } else {
            ++counts.disagreeingPixels;
            const bool onEdge = row.gradDisp[j] > kEdgeThreshold;
            const int64_t shift = truncateDisparity(d);
            if (insideRow(xSelf, width)) {
                errorSelf = squaredError(view[j], synthesise(selfRow, xSelf, j + shift, onEdge));
                countSelf = true;
            }
            const int64_t xInvad = j + in.truncB(j);
            if (insideRow(xInvad, width)) {
                errorInvad = squaredError(view[j], synthesise(invadRow, xInvad, j - shift, onEdge));
                countInvad = true;
            }
        }
        terms.errorSelf[j] = errorSelf;
        terms.errorInvad[j] = errorInvad;
        terms.weightSelf[j] = countSelf ? errorWeight(row.mixed[j], in.magnitudeA(j), offset) : 0.0f;
        terms.weightInvad[j] = countInvad ? errorWeight(row.mixed[j], in.magnitudeB(j), offset) : 0.0f;
        terms.makeAddends(static_cast<int>(j));
        counts.countedTerms += countSelf + countInvad;
    }
    return counts;
}

// Adds the terms of one row to the sums, kept in registers by a loop that
// does nothing else.
[[gnu::noinline]] void poolRow(const RowTerms& terms, int width, PoolingSums& total)
{
    PoolingCursor cursor(terms, 0, width, total);
    cursor.finish();
    total = cursor.sums;
}

// The maps of one row: errors and weights of every pixel, and which terms
// count.
template <class Row>
void writeRowMaps(const Row& in, const RowTerms& terms, const float* mixed, int width, morvex::ViewMaps& maps,
                  int r)
{
    const float offset = g_weightOffset;
    for (int j = 0; j < width; ++j) {
        maps.matSelfSim.ptr<float>(r)[j] = terms.errorSelf[j];
        maps.matInvadSim.ptr<float>(r)[j] = terms.errorInvad[j];
        maps.matSelfWeight.ptr<float>(r)[j] = errorWeight(mixed[j], in.magnitudeA(j), offset);
        maps.matInvadWeight.ptr<float>(r)[j] = errorWeight(mixed[j], in.magnitudeB(j), offset);
        maps.matValidSelf.ptr<float>(r)[j] = terms.weightSelf[j] != 0.0f ? 1.0f : 0.0f;
        maps.matValidInvad.ptr<float>(r)[j] = terms.weightInvad[j] != 0.0f ? 1.0f : 0.0f;
    }
}

// searchRow for an 8-bit view and depth maps in the common search settings
// (see depth_rows.h), as vector code where the processor has it.
struct DepthRowSearch {
    DepthRowScratch scratch;

    static bool applies(const cv::Mat& view)
    {
        return view.depth() == CV_8U && g_searchRadius == 0 && g_searchSteps == 0 && g_edgeSteps == kEdgeSteps &&
               view.cols <= kWidestDepthRow;
    }

    bool vectorCode;
    DepthRowSearch(int width, bool vectorCode) : scratch(width), vectorCode(vectorCode) {}

    // Searches a row into `terms` and pools the previous row's terms.
    RowCounts run(const DepthRow& in, const RowContext& row, RowTerms& terms, const RowTerms& previous,
                  int previousWidth, PoolingSums& sums)
    {
        const DepthRowInputs inputs{in.a,
                                    in.b,
                                    row.view8,
                                    row.mixed,
                                    row.gradDisp,
                                    in.tables->disparity,
                                    in.tables->disparityScale,
                                    in.tables->disparityOffset,
                                    in.tables->magnitudeA,
                                    in.tables->magnitudeB,
                                    in.tables->rangeA,
                                    in.tables->rangeB,
                                    row.expWeight,
                                    g_weightOffset,
                                    row.width,
                                    row.mapsWanted,
                                    in.tables->smallDisparities,
                                    vectorCode};
        PoolingShares pooling = poolingShares(previous, previousWidth);
        pooling.truncate.sums = sums;
        const RowCounts counts = truncateDepthRow(inputs, scratch, terms, pooling.truncate);
        pooling.search.sums = pooling.truncate.sums;
        searchAndErrorTerms(inputs, scratch, terms, pooling.search);
        sums = pooling.search.sums;
        return counts;
    }
};

template <class Row>
RowCounts searchAndPoolRow(const Row& in, const RowContext& row, RowTerms& terms, const RowTerms& previous,
                           int previousWidth, PoolingSums& sums)
{
    poolRow(previous, previousWidth, sums);
    return searchRow(in, row, terms);
}

void makeMaps(morvex::ViewMaps& maps, cv::Size size)
{
    for (cv::Mat* m : {&maps.matSelfSim, &maps.matInvadSim, &maps.matSelfWeight, &maps.matInvadWeight,
                       &maps.matValidSelf, &maps.matValidInvad})
        m->create(size, CV_32F);
}

// Row buffers shared by both forms of the disparities.
struct RowBuffers {
    RowArray<float> view, gradDisp, mixed;
    explicit RowBuffers(int width) : view(width), gradDisp(width), mixed(width) {}
};

const float* viewRow(const cv::Mat& view, int r, RowArray<float>& buffer)
{
    if (view.depth() == CV_32F)
        return view.ptr<float>(r);
    const uint8_t* in = view.ptr<uint8_t>(r);
    for (size_t c = 0; c < buffer.size(); ++c)
        buffer[c] = in[c];
    return buffer.data();
}

// Searches, weighs and pools every row; rowFor(r) gives the disparities of
// row r, and search(row, context, terms, previous, previousWidth, sums)
// searches a row into `terms` and pools the previous row's terms (zeros
// before the first row), so that the pooling can run between the search's
// work. A search that reads the 8-bit view alone gets no float view.
template <class RowFor, class Search>
ViewPassResult runRows(const ViewPassInputs& inputs, RowFor rowFor, Search search, morvex::ViewMaps* maps,
                       bool floatView = true)
{
    const int width = inputs.view.cols;
    const int height = inputs.view.rows;
    RowBuffers buffers(width);
    RowTerms terms(width), previous(width); // addends of 0 to start with
    PoolSums sums;
    if (maps != nullptr)
        makeMaps(*maps, inputs.view.size());

    for (int r = 0; r < height; ++r) {
        const float* view = floatView ? viewRow(inputs.view, r, buffers.view) : nullptr;
        mixedEdgeRow(*inputs.gradView, *inputs.gradDisp, r, buffers.gradDisp.data(), buffers.mixed.data(),
                     inputs.vectorCode);
        const uint8_t* view8 = inputs.view.depth() == CV_8U ? inputs.view.ptr<uint8_t>(r) : nullptr;
        const RowContext context{view,  view8, buffers.gradDisp.data(), buffers.mixed.data(), width, inputs.expWeight,
                                 maps != nullptr};
        const auto row = rowFor(r);
        const RowCounts counts = search(row, context, terms, previous, width, sums.sums);
        sums.counts.countedTerms += counts.countedTerms;
        sums.counts.disagreeingPixels += counts.disagreeingPixels;
        if (maps != nullptr)
            writeRowMaps(row, terms, buffers.mixed.data(), width, *maps, r);
        std::swap(terms, previous);
    }
    poolRow(previous, height > 0 ? width : 0, sums.sums);

    ViewPassResult result;
    result.error = static_cast<float>(sums.sums.weightedErrorSum() / sums.sums.weightSum());
    result.countedTerms = sums.counts.countedTerms;
    result.disagreeingPixels = sums.counts.disagreeingPixels;
    return result;
}

} // namespace

ViewPassResult runViewPass(const ViewPassInputs& inputs, const DepthDisparities& disparities, morvex::ViewMaps* maps)
{
    const auto rowFor = [&disparities](int r) {
        return DepthRow{disparities.depthA.ptr<uint8_t>(r), disparities.depthB.ptr<uint8_t>(r), &disparities};
    };
    if (DepthRowSearch::applies(inputs.view)) {
        DepthRowSearch depthSearch(inputs.view.cols, inputs.vectorCode);
        const auto search = [&depthSearch](const DepthRow& in, const RowContext& row, RowTerms& terms,
                                           const RowTerms& previous, int previousWidth, PoolingSums& sums) {
            return depthSearch.run(in, row, terms, previous, previousWidth, sums);
        };
        return runRows(inputs, rowFor, search, maps, false);
    }
    return runRows(inputs, rowFor, searchAndPoolRow<DepthRow>, maps);
}

ViewPassResult runViewPass(const ViewPassInputs& inputs, const FloatDisparities& disparities, morvex::ViewMaps* maps)
{
    const int width = inputs.view.cols;
    std::vector<int32_t> truncA(width), truncB(width);
    std::vector<float> magA(width), magB(width);
    const auto rowFor = [&](int r) {
        const float* a = disparities.dispA.ptr<float>(r);
        const float* b = disparities.dispB.ptr<float>(r);
        for (int c = 0; c < width; ++c) {
            truncA[c] = static_cast<int32_t>(truncateDisparity(a[c]));
            truncB[c] = static_cast<int32_t>(truncateDisparity(b[c]));
            magA[c] = disparities.magnitudeA.normalized(std::fabs(a[c]));
            magB[c] = disparities.magnitudeB.normalized(std::fabs(b[c]));
        }
        return FloatRow{a, b, truncA.data(), truncB.data(), magA.data(), magB.data()};
    };
    return runRows(inputs, rowFor, searchAndPoolRow<FloatRow>, maps);
}

} // namespace morvex::detail
