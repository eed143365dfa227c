#pragma once
#include <cstdint>

// splitmix64 is fully defined by this code, unlike the standard distributions,
// so a seed gives the same scene on every machine and library version.
inline std::uint64_t splitmix64(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Stateless hash of a lattice point, for textures evaluated anywhere on the plane.
inline std::uint64_t hashPoint(std::uint64_t salt, std::int64_t x, std::int64_t y)
{
    std::uint64_t s = salt ^ static_cast<std::uint64_t>(x);
    s = splitmix64(s) ^ static_cast<std::uint64_t>(y);
    return splitmix64(s);
}

class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() { return splitmix64(state_); }
    // Uniform integer in [lo, hi]; the modulo bias is negligible for these small ranges.
    int uniform(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1)); }
    bool coin() { return (next() >> 63) != 0; }

private:
    std::uint64_t state_;
};
