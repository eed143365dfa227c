#include "sample/scene.h"

#include <cstdint>
#include <stdexcept>

#include "sample/flaws.h"
#include "sample/layout.h"
#include "sample/render.h"
#include "sample/stereo_rig.h"

namespace {

// Each view of each frame gets its own flaws, all derived from the seed.
std::uint64_t flawSeed(const SceneOptions& o, Side side)
{
    return (static_cast<std::uint64_t>(o.seed) << 32) ^ (static_cast<std::uint64_t>(o.frame) << 1) ^
           (side == Side::Right ? 1u : 0u);
}

} // namespace

SampleScene makeSampleScene(const SceneOptions& o)
{
    if (o.width < 1 || o.height < 1)
        throw std::invalid_argument("scene size must be positive");
    const StereoRig rig = rigForWidth(o.width);
    const std::vector<Layer> layers = sceneLayers(o.width, o.height, o.seed, o.frame);
    const int background = layers.front().depthTop;
    const cv::Size size(o.width, o.height);
    const RenderedView left = renderView(layers, disparityTable(rig, Side::Left), size);
    const RenderedView right = renderView(layers, disparityTable(rig, Side::Right), size);

    SampleScene scene;
    scene.left = left.grey;
    scene.right = right.grey;
    scene.depthLeftA = left.depth;
    scene.depthRightA = right.depth;
    scene.depthLeftB = flawedDepth(left.depth, background, flawSeed(o, Side::Left));
    scene.depthRightB = flawedDepth(right.depth, background, flawSeed(o, Side::Right));
    scene.cameraText = rigText(rig);
    return scene;
}
