#include "sample/layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "sample/random.h"

bool covers(const Layer& l, int x, int y)
{
    const std::int64_t dx = x - l.centreX, dy = y - l.centreY, a = l.halfWidth, b = l.halfHeight;
    switch (l.shape) {
    case Shape::Everywhere:
        return true;
    case Shape::Box:
        return std::abs(dx) <= a && std::abs(dy) <= b;
    case Shape::Ellipse:
        return dx * dx * b * b + dy * dy * a * a <= a * a * b * b;
    }
    return false;
}

int depthAt(const Layer& l, int y)
{
    const int top = l.centreY - l.halfHeight, rows = std::max(1, 2 * l.halfHeight);
    const int t = std::clamp(y - top, 0, rows);
    return l.depthTop + (l.depthBottom - l.depthTop) * t / rows;
}

namespace {

// Position after `travel` pixels of motion inside [lo, hi], bouncing off the ends,
// so objects stay in view however long the sequence.
int bounce(int start, long long travel, int lo, int hi)
{
    if (hi <= lo)
        return lo;
    const long long span = hi - lo, period = 2 * span;
    const long long u = ((start - lo + travel) % period + period) % period;
    return lo + static_cast<int>(u <= span ? u : period - u);
}

// A few pixels per frame at 640 wide, proportionally more on larger images.
int velocity(Rng& rng, int width)
{
    const int speed = std::max(1, rng.uniform(1, 3) * width / 640);
    return rng.coin() ? speed : -speed;
}

int percentOf(Rng& rng, int size, int lo, int hi)
{
    return std::max(1, size * rng.uniform(lo, hi) / 100);
}

Layer object(Rng& rng, Shape shape, Pattern pattern, int period)
{
    Layer l;
    l.shape = shape;
    l.texture.pattern = pattern;
    l.texture.period = std::max(2, period);
    l.texture.salt = rng.next();
    return l;
}

} // namespace

std::vector<Layer> sceneLayers(int width, int height, unsigned seed, int frame)
{
    Rng rng(0x6D6F72766578ull ^ (static_cast<std::uint64_t>(seed) << 16));
    const int side = std::min(width, height);
    std::vector<Layer> layers;

    Layer background = object(rng, Shape::Everywhere, Pattern::Clouds, side / 6);
    background.depthTop = background.depthBottom = rng.uniform(4, 16);
    layers.push_back(background);

    Layer board = object(rng, Shape::Box, Pattern::Stripes, side / 24);
    board.halfWidth = percentOf(rng, width, 12, 18);
    board.halfHeight = percentOf(rng, height, 22, 30);
    board.centreX = percentOf(rng, width, 20, 40);
    board.centreY = percentOf(rng, height, 40, 60);
    board.depthTop = rng.uniform(40, 60);
    board.depthBottom = rng.uniform(110, 130);
    layers.push_back(board);

    Layer disc = object(rng, Shape::Ellipse, Pattern::Rings, side / 30);
    disc.halfWidth = disc.halfHeight = percentOf(rng, side, 12, 18);
    disc.centreX = percentOf(rng, width, 55, 80);
    disc.centreY = percentOf(rng, height, 25, 45);
    disc.depthTop = disc.depthBottom = rng.uniform(150, 170);
    layers.push_back(disc);

    Layer box = object(rng, Shape::Box, Pattern::Checker, side / 16);
    box.halfWidth = percentOf(rng, width, 7, 11);
    box.halfHeight = percentOf(rng, height, 9, 14);
    box.centreX = percentOf(rng, width, 35, 60);
    box.centreY = percentOf(rng, height, 60, 80);
    box.depthTop = box.depthBottom = rng.uniform(190, 210);
    layers.push_back(box);

    Layer blob = object(rng, Shape::Ellipse, Pattern::Clouds, side / 40);
    blob.halfWidth = percentOf(rng, side, 5, 8);
    blob.halfHeight = percentOf(rng, side, 4, 7);
    blob.centreX = percentOf(rng, width, 15, 85);
    blob.centreY = percentOf(rng, height, 15, 85);
    blob.depthTop = blob.depthBottom = rng.uniform(230, 250);
    layers.push_back(blob);

    for (std::size_t i = 1; i < layers.size(); ++i) {
        Layer& l = layers[i];
        const int vx = velocity(rng, width), vy = velocity(rng, width) / 2;
        l.centreX = bounce(l.centreX, 1LL * vx * frame, width / 10, width - 1 - width / 10);
        l.centreY = bounce(l.centreY, 1LL * vy * frame, height / 10, height - 1 - height / 10);
    }
    return layers;
}
