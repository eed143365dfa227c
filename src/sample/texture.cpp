#include "sample/texture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sample/random.h"

namespace {

int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Smoothstep of f / cell, in units of 1 / cell: hides the lattice creases.
std::int64_t ease(std::int64_t f, std::int64_t cell)
{
    return f * f * (3 * cell - 2 * f) / (cell * cell);
}

std::int64_t lattice(std::uint64_t salt, int i, int j)
{
    return static_cast<std::int64_t>(hashPoint(salt, i, j) & 255);
}

// Value noise in [0, 255]; integer-only so no floating-point detail can change a byte.
int valueNoise(std::uint64_t salt, int x, int y, int cell)
{
    const int i = floorDiv(x, cell), j = floorDiv(y, cell);
    const std::int64_t c = cell, fx = ease(x - i * cell, c), fy = ease(y - j * cell, c);
    const std::int64_t top = lattice(salt, i, j) * (c - fx) + lattice(salt, i + 1, j) * fx;
    const std::int64_t bottom = lattice(salt, i, j + 1) * (c - fx) + lattice(salt, i + 1, j + 1) * fx;
    return static_cast<int>((top * (c - fy) + bottom * fy) / (c * c));
}

int clouds(std::uint64_t salt, int x, int y, int cell)
{
    return (2 * valueNoise(salt, x, y, cell) + valueNoise(salt + 1, x, y, std::max(2, cell / 4))) / 3;
}

// 0 -> 255 -> 0 over one period.
int triangle(int t, int period)
{
    const int u = t - floorDiv(t, period) * period;
    return std::abs(2 * u - period) * 255 / period;
}

int radius(int x, int y)
{
    const double r2 = static_cast<double>(x) * x + static_cast<double>(y) * y;
    return static_cast<int>(std::sqrt(r2)); // sqrt is exactly rounded, so portable
}

} // namespace

int texel(const Texture& texture, int x, int y)
{
    const int p = std::max(2, texture.period);
    const int noise = clouds(texture.salt, x, y, p);
    int level = noise;
    switch (texture.pattern) {
    case Pattern::Clouds:
        break;
    case Pattern::Stripes:
        level = (2 * triangle(x + y / 2, p) + noise) / 3;
        break;
    case Pattern::Checker:
        level = (3 * (((floorDiv(x, p) + floorDiv(y, p)) & 1) ? 230 : 30) + noise) / 4;
        break;
    case Pattern::Rings:
        level = (2 * triangle(radius(x, y), p) + noise) / 3;
        break;
    }
    return 40 + level * 175 / 255;
}
