#pragma once
#include <cstdint>

enum class Pattern { Clouds, Stripes, Checker, Rings };

struct Texture {
    Pattern pattern = Pattern::Clouds;
    int period = 16; // feature size in pixels
    std::uint64_t salt = 0;
};

// Grey level in [40, 215] at point (x, y) of the texture's own plane (any integers).
int texel(const Texture& texture, int x, int y);
