#include "metric/similarity_search.h"

#include "driver/settings.h"

#include <algorithm>
#include <cmath>

int64_t truncateDisparity(float value)
{
    if (std::isnan(value))
        return INT32_MIN;
    if (value >= 2147483648.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

constexpr float kEdgeThreshold = 0.1f;
constexpr int64_t kLargestWeightIndex = 5;

// One row of the maps that a pass reads.
struct PassRow {
    const float* view;
    const float* followed;  // the disparity map followed at search columns
    const float* expWeight; // exp(-n), n = 0..5
    int64_t width;
};

struct PassSums {
    float weighted = 0.0f; // S1
    float weights = 0.0f;  // S0
};

int64_t clampColumn(int64_t column, int64_t width)
{
    return column < 0 ? 0 : (column > width - 1 ? width - 1 : column);
}

int64_t arrivalColumn(const PassRow& row, int64_t column)
{
    return column + truncateDisparity(row.followed[column]);
}

// Adds the window of columns around p, each weighted by how close its own
// arrival column lies to x.
void accumulate(const PassRow& row, int64_t x, int64_t p, PassSums& sums)
{
    const int64_t first = std::max<int64_t>(p - g_searchRadius, 0);
    const int64_t last = std::min<int64_t>(p + g_searchRadius + 1, row.width) - 1;
    for (int64_t k = first; k <= last; ++k) {
        const int64_t distance = x - arrivalColumn(row, k);
        const int64_t n = std::min(distance < 0 ? -distance : distance, kLargestWeightIndex);
        const float w = row.expWeight[n];
        sums.weighted = sums.weighted + w * row.view[k];
        sums.weights = sums.weights + w;
    }
}

// Searches the row for the pixel that the followed map sends to column x,
// starting at startColumn, and returns the weighted mean of the intensities
// visited.
float searchArrival(const PassRow& row, int64_t x, int64_t startColumn, bool onEdge)
{
    int64_t p = clampColumn(startColumn, row.width);
    int64_t y = arrivalColumn(row, p);
    PassSums sums;
    accumulate(row, x, p, sums);

    const int steps = std::max(g_searchSteps, 0) + (onEdge ? std::max(g_edgeSteps, 0) : 0);
    for (int s = 0; s < steps; ++s) {
        p = clampColumn(p + (x - y), row.width);
        y = arrivalColumn(row, p);
        accumulate(row, x, p, sums);
    }
    return sums.weighted / sums.weights;
}

} // namespace

void searchSimilarity(cv::Mat view, cv::Mat dispA, cv::Mat dispB, cv::Mat matDispDiff, cv::Mat matExpWeight,
                      cv::Mat matGradDispCopy, cv::Mat& matViewSelf, cv::Mat& matViewInvad, cv::Mat& matValidSelf,
                      cv::Mat& matValidInvad)
{
    const int64_t width = g_imageWidth;
    const float* expWeight = matExpWeight.ptr<float>(0);
    for (int i = 0; i < g_imageHeight; ++i) {
        const float* rowA = dispA.ptr<float>(i);
        const float* rowB = dispB.ptr<float>(i);
        const float* diff = matDispDiff.ptr<float>(i);
        const float* edge = matGradDispCopy.ptr<float>(i);
        float* self = matViewSelf.ptr<float>(i);
        float* invad = matViewInvad.ptr<float>(i);
        float* validSelf = matValidSelf.ptr<float>(i);
        float* validInvad = matValidInvad.ptr<float>(i);

        const PassRow selfRow{view.ptr<float>(i), rowB, expWeight, width};
        const PassRow invadRow{view.ptr<float>(i), rowA, expWeight, width};

        for (int64_t j = 0; j < width; ++j) {
            const float d = diff[j];
            if (d == 0.0f) {
                const int64_t x = j + truncateDisparity(rowA[j]);
                if (x >= 0 && x <= width - 1) {
                    validSelf[j] = 1.0f;
                    validInvad[j] = 1.0f;
                }
                continue;
            }

            // Both passes make the extra steps where dispA has an edge.
            const bool onEdge = edge[j] > kEdgeThreshold;
            const int64_t shift = truncateDisparity(d);

            const int64_t xSelf = j + truncateDisparity(rowA[j]);
            if (xSelf >= 0 && xSelf <= width - 1) {
                self[j] = searchArrival(selfRow, xSelf, j + shift, onEdge);
                validSelf[j] = 1.0f;
            }
            const int64_t xInvad = j + truncateDisparity(rowB[j]);
            if (xInvad >= 0 && xInvad <= width - 1) {
                invad[j] = searchArrival(invadRow, xInvad, j - shift, onEdge);
                validInvad[j] = 1.0f;
            }
        }
    }
}
