#include "metric/edge_strength.h"

#include "metric/settings.h"
#include "metric/error_terms.h"
#include "metric/edge_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

namespace morvex::detail {

// Index of a neighbour across the border, reflected about the edge pixel
// (-1 -> 1, n -> n - 2); a single pixel reflects onto itself.
static int reflect101(int index, int length)
{
    if (length == 1)
        return 0;
    if (index < 0)
        return -index;
    if (index >= length)
        return 2 * length - 2 - index;
    return index;
}

namespace {

struct KernelTerm {
    int dr, dc;
    float weight;
};

// The non-zero terms of a 3x3 kernel (anchor at the centre), in row-major
// order.
std::vector<KernelTerm> kernelTerms(const cv::Mat& kernel)
{
    std::vector<KernelTerm> terms;
    for (int kr = 0; kr < 3; ++kr)
        for (int kc = 0; kc < 3; ++kc)
            if (kernel.at<float>(kr, kc) != 0.0f)
                terms.push_back({kr - 1, kc - 1, kernel.at<float>(kr, kc)});
    return terms;
}

// The correlation of one row with a 3x3 kernel, from the rows above, at and
// below it, each padded with its reflected ends: the terms added term by
// term across the row from 0 in single precision, per pixel the same sums in
// the same order, in loops the compiler vectorises.
void filterRow(const std::vector<KernelTerm>& terms, const float* const padded[3], int cols, float* out)
{
    std::fill(out, out + cols, 0.0f);
    for (const KernelTerm& t : terms) {
        const float* in = padded[t.dr + 1] + t.dc + 1;
        for (int c = 0; c < cols; ++c)
            out[c] = out[c] + t.weight * in[c];
    }
}

void magnitudeRow(const float* gx, const float* gy, int cols, float* out)
{
    for (int c = 0; c < cols; ++c) {
        const float squareY = gy[c] * gy[c];
        const float squareX = gx[c] * gx[c];
        out[c] = std::sqrt(squareY + squareX);
    }
}

// The rows of the reduced map that the filter of a row reads, made as they
// are first asked for, each padded with its reflected ends. Three are kept:
// the rows around the one being filtered.
class PaddedRows {
public:
    PaddedRows(const LinearRows& reduced, int cols) : reduced_(reduced), cols_(cols)
    {
        for (auto& r : rows_)
            r.assign(cols + 2, 0.0f);
    }

    const float* operator()(int row)
    {
        int slot = 0;
        for (int i = 0; i < 3; ++i) {
            if (made_[i] == row)
                return rows_[i].data();
            if (made_[i] < made_[slot])
                slot = i;
        }
        float* padded = rows_[slot].data();
        reduced_.row(row, padded + 1);
        padded[0] = padded[reflect101(-1, cols_) + 1];
        padded[cols_ + 1] = padded[reflect101(cols_, cols_) + 1];
        made_[slot] = row;
        return padded;
    }

private:
    const LinearRows& reduced_;
    int cols_;
    std::vector<float> rows_[3];
    int made_[3] = {-1, -1, -1};
};

// sqrt(gy^2 + gx^2) of the reduced map, each square rounded to float before
// the sum, the reduced map's borders reflected without repeating the edge
// pixel. Only the result is a whole map.
cv::Mat reducedGradientMagnitude(const LinearRows& reduced, cv::Size size, const cv::Mat& matKernelX,
                                 const cv::Mat& matKernelY)
{
    const std::vector<KernelTerm> termsX = kernelTerms(matKernelX);
    const std::vector<KernelTerm> termsY = kernelTerms(matKernelY);
    PaddedRows rows(reduced, size.width);
    std::vector<float> gx(size.width), gy(size.width);
    cv::Mat magnitude(size, CV_32F);
    for (int r = 0; r < size.height; ++r) {
        const float* at = rows(r);
        const float* below = rows(reflect101(r + 1, size.height));
        const float* above = rows(reflect101(r - 1, size.height));
        const float* const padded[3] = {above, at, below};
        filterRow(termsX, padded, size.width, gx.data());
        filterRow(termsY, padded, size.width, gy.data());
        magnitudeRow(gx.data(), gy.data(), size.width, magnitude.ptr<float>(r));
    }
    return magnitude;
}


// A row of the upscaled map, blended from two rows of its horizontal stage.
struct BlendedRow {
    const float* upper;
    const float* lower;
    float w0, w1;

    float operator[](int c) const { return upper[c] * w0 + lower[c] * w1; }
};

BlendedRow blendedRow(const LinearRows& rows, int r)
{
    const LinearTap& t = rows.rows[r];
    const float* upper = rows.horizontalRow(t.index, -1);
    const float* lower = rows.horizontalRow(t.next, t.index);
    return {upper, lower, t.weights[0], t.weights[1]};
}

// The range of the upscaled map, its rows made and scanned in one go, eight
// columns at a time in independent lanes (vector min and max).
ValueRange scannedRange(const LinearRows& rows)
{
    using Lanes = float __attribute__((vector_size(32)));
    constexpr int kLanes = 8;
    const int width = static_cast<int>(rows.columns.index.size());
    ValueRange range;
    Lanes lo = range.lo - Lanes{};
    Lanes hi = range.hi - Lanes{};
    for (size_t r = 0; r < rows.rows.size(); ++r) {
        const BlendedRow row = blendedRow(rows, static_cast<int>(r));
        int c = 0;
        for (; c + kLanes <= width; c += kLanes) {
            Lanes upper, lower;
            std::memcpy(&upper, row.upper + c, sizeof upper);
            std::memcpy(&lower, row.lower + c, sizeof lower);
            const Lanes v = upper * row.w0 + lower * row.w1;
            lo = lo > v ? v : lo;
            hi = v > hi ? v : hi;
        }
        for (; c < width; ++c)
            range.include(row[c]);
    }
    for (int l = 0; l < kLanes; ++l) {
        if (range.lo > lo[l])
            range.lo = lo[l];
        if (hi[l] > range.hi)
            range.hi = hi[l];
    }
    return range;
}

// Consecutive rows or columns of the upscaled map that blend the same two
// source samples, and the least and greatest sum of their two weights.
struct TapGroup {
    int first, end;
    int index, next;
    double leastWeight, mostWeight;
};

std::vector<TapGroup> rowGroups(const std::vector<LinearTap>& taps)
{
    std::vector<TapGroup> groups;
    for (int r = 0; r < static_cast<int>(taps.size()); ++r) {
        const LinearTap& t = taps[r];
        const double sum = static_cast<double>(t.weights[0]) + static_cast<double>(t.weights[1]);
        if (groups.empty() || groups.back().index != t.index || groups.back().next != t.next)
            groups.push_back({r, r, t.index, t.next, sum, sum});
        TapGroup& g = groups.back();
        g.end = r + 1;
        g.leastWeight = std::min(g.leastWeight, sum);
        g.mostWeight = std::max(g.mostWeight, sum);
    }
    return groups;
}

// Columns from lastTwoTap on copy their one sample: weight 1, as if blended
// with itself.
std::vector<TapGroup> columnGroups(const ColumnTaps& taps)
{
    std::vector<TapGroup> groups;
    for (int c = 0; c < static_cast<int>(taps.index.size()); ++c) {
        const bool copied = c >= taps.lastTwoTap;
        const int next = copied ? taps.index[c] : taps.index[c] + 1;
        const double sum =
            copied ? 1.0 : static_cast<double>(taps.weight0[c]) + static_cast<double>(taps.weight1[c]);
        if (groups.empty() || groups.back().index != taps.index[c] || groups.back().next != next)
            groups.push_back({c, c, taps.index[c], next, sum, sum});
        TapGroup& g = groups.back();
        g.end = c + 1;
        g.leastWeight = std::min(g.leastWeight, sum);
        g.mostWeight = std::max(g.mostWeight, sum);
    }
    return groups;
}

// The upscaled values of one block of rows and columns that blend the same
// four source samples, made as the rows are made, and their range.
ValueRange blockRange(const LinearRows& rows, const TapGroup& rowGroup, const TapGroup& columnGroup)
{
    const ColumnTaps& t = rows.columns;
    const float* upperSource = rows.source.ptr<float>(rowGroup.index);
    const float* lowerSource = rows.source.ptr<float>(rowGroup.next);
    const auto horizontal = [&t](const float* src, int c) {
        return c < t.lastTwoTap ? src[t.index[c]] * t.weight0[c] + src[t.index[c] + 1] * t.weight1[c]
                                : src[t.index[c]];
    };
    ValueRange range;
    for (int c = columnGroup.first; c < columnGroup.end; ++c) {
        const float upper = horizontal(upperSource, c);
        const float lower = horizontal(lowerSource, c);
        for (int r = rowGroup.first; r < rowGroup.end; ++r)
            range.include(upper * rows.rows[r].weights[0] + lower * rows.rows[r].weights[1]);
    }
    return range;
}

bool nonNegativeWeights(const LinearRows& rows)
{
    const auto negative = [](float w) { return !(w >= 0.0f); };
    const ColumnTaps& t = rows.columns;
    return std::none_of(t.weight0.begin(), t.weight0.end(), negative) &&
           std::none_of(t.weight1.begin(), t.weight1.end(), negative) &&
           std::none_of(rows.rows.begin(), rows.rows.end(),
                        [&](const LinearTap& tap) { return negative(tap.weights[0]) || negative(tap.weights[1]); });
}

bool nonNegativeAndFinite(const cv::Mat& map)
{
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        for (int c = 0; c < map.cols; ++c)
            if (!(row[c] >= 0.0f && row[c] <= std::numeric_limits<float>::max()))
                return false;
    }
    return true;
}

} // namespace

// The range of the upscaled map of a non-negative source, found without
// making most of it. A blend of non-negative samples lies between the least
// and the greatest of its samples times the sum of its weights; each of its
// four roundings moves it by at most 2^-24 of itself. So a block of the map
// whose four samples bound it away from the extremes found so far need not
// be made: the blocks that may hold an extreme are made exactly as the rows
// are, and give the same range as a scan of every row.
ValueRange upscaledRange(const LinearRows& rows)
{
    const cv::Mat& source = rows.source;
    if (source.empty() || !nonNegativeAndFinite(source) || !nonNegativeWeights(rows))
        return scannedRange(rows);
    const std::vector<TapGroup> byRow = rowGroups(rows.rows);
    const std::vector<TapGroup> byColumn = columnGroups(rows.columns);
    const auto most = [](double m, const TapGroup& g) { return std::max(m, g.mostWeight); };
    const auto least = [](double m, const TapGroup& g) { return std::min(m, g.leastWeight); };
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    // Below the normal floats a rounding moves a value by up to 2^-150.
    constexpr double kSubnormalRounding = 1e-40;
    const double mostFactor = std::accumulate(byRow.begin(), byRow.end(), 0.0, most) *
                              std::accumulate(byColumn.begin(), byColumn.end(), 0.0, most) * (1.0 + 1.0 / (1 << 20));
    const double leastFactor = std::accumulate(byRow.begin(), byRow.end(), kInfinity, least) *
                               std::accumulate(byColumn.begin(), byColumn.end(), kInfinity, least) *
                               (1.0 - 1.0 / (1 << 20));

    ValueRange found;
    // The samples that a block needs to reach beyond what is found: at
    // least mostSample, or at most leastSample. The values are
    // non-negative: nothing lies below a least of 0.
    double mostSample = -kInfinity, leastSample = kInfinity;
    const auto make = [&](const TapGroup& g, const TapGroup& h) {
        const ValueRange block = blockRange(rows, g, h);
        found.include(block.lo);
        found.include(block.hi);
        mostSample = (found.hi - kSubnormalRounding) / mostFactor * (1.0 - 1.0 / (1LL << 40));
        leastSample = found.lo > 0.0f ? (found.lo + kSubnormalRounding) / leastFactor * (1.0 + 1.0 / (1LL << 40))
                                      : -kInfinity;
    };
    // The column groups that read each source column, from first to last.
    std::vector<int> firstReading(source.cols, static_cast<int>(byColumn.size())), lastReading(source.cols, -1);
    for (int h = 0; h < static_cast<int>(byColumn.size()); ++h)
        for (int k : {byColumn[h].index, byColumn[h].next}) {
            firstReading[k] = std::min(firstReading[k], h);
            lastReading[k] = std::max(lastReading[k], h);
        }

    // First the blocks of the greatest and the least sample, then every
    // block with a sample that may reach beyond what is found.
    double leastValue, mostValue;
    cv::Point leastAt, mostAt;
    cv::minMaxLoc(source, &leastValue, &mostValue, &leastAt, &mostAt);
    for (const cv::Point& at : {mostAt, leastAt})
        for (const TapGroup& g : byRow)
            if (g.index == at.y || g.next == at.y) {
                make(g, byColumn[firstReading[at.x]]);
                break;
            }
    for (const TapGroup& g : byRow) {
        const float* upper = source.ptr<float>(g.index);
        const float* lower = source.ptr<float>(g.next);
        for (int k = 0; k < source.cols; ++k) {
            if (std::max(upper[k], lower[k]) < mostSample && std::min(upper[k], lower[k]) > leastSample)
                continue;
            for (int h = firstReading[k]; h <= lastReading[k]; ++h) {
                const TapGroup& c = byColumn[h];
                const float m = std::max(std::max(upper[c.index], upper[c.next]), std::max(lower[c.index], lower[c.next]));
                const float l = std::min(std::min(upper[c.index], upper[c.next]), std::min(lower[c.index], lower[c.next]));
                if (m * mostFactor + kSubnormalRounding >= found.hi ||
                    (found.lo > 0.0f && l * leastFactor - kSubnormalRounding <= found.lo))
                    make(g, c);
            }
        }
    }
    return found;
}

EdgeStrength edgeStrength(const RowReader& source, cv::Size fullSize, const cv::Mat& matKernelX,
                          const cv::Mat& matKernelY, bool vectorCode)
{
    const cv::Size reducedSize(fullSize.width / g_reduceFactor, fullSize.height / g_reduceFactor);

    LinearRows reduced = resizeLinearRows(source, fullSize, reducedSize);
    reduced.vectorCode = vectorCode;
    EdgeStrength edges;
    edges.upscaled =
        resizeLinearRowsOnDemand(reducedGradientMagnitude(reduced, reducedSize, matKernelX, matKernelY), fullSize);
    edges.upscaled.vectorCode = vectorCode;
    edges.range = upscaledRange(edges.upscaled);
    return edges;
}

void mixedEdgeRow(const EdgeStrength& gradView, const EdgeStrength& gradDisp, int r, float* gradDispRow,
                  float* mixedRow, bool vectorCode)
{
    const auto blend = [r](const EdgeStrength& edges) {
        const BlendedRow row = blendedRow(edges.upscaled, r);
        return EdgeRowBlend{row.upper, row.lower, row.w0, row.w1, edges.range.lo, edges.range.hi - edges.range.lo,
                            edges.range.hi == edges.range.lo};
    };
    const EdgeMix mix = edgeMix();
    const int width = static_cast<int>(gradView.upscaled.columns.index.size());
    mixEdgeRow({blend(gradView), blend(gradDisp), mix.viewShare, mix.dispShare, width, vectorCode}, gradDispRow,
               mixedRow);
}

} // namespace morvex::detail
