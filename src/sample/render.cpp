#include "sample/render.h"

RenderedView renderView(const std::vector<Layer>& layers, const std::array<int, 256>& disparity, cv::Size size)
{
    RenderedView view{cv::Mat(size, CV_8UC1, cv::Scalar(0)), cv::Mat(size, CV_8UC1, cv::Scalar(0))};
    for (const Layer& layer : layers) {
        for (int y = 0; y < size.height; ++y) {
            const int v = depthAt(layer, y);
            const int d = disparity[v];
            uchar* grey = view.grey.ptr<uchar>(y);
            uchar* depth = view.depth.ptr<uchar>(y);
            for (int x = 0; x < size.width; ++x) {
                const int middleX = x + d;
                if (!covers(layer, middleX, y))
                    continue;
                // Texture coordinates are the layer's own, so the texture travels with it.
                grey[x] = static_cast<uchar>(texel(layer.texture, middleX - layer.centreX, y - layer.centreY));
                depth[x] = static_cast<uchar>(v);
            }
        }
    }
    return view;
}
