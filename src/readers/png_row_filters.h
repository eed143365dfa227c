#pragma once

#include <cstddef>
#include <cstdint>

// PNG's row filters, reversed: None 0, Sub 1, Up 2, Average 3, Paeth 4.
enum PngFilter : std::uint8_t { kFilterNone, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth };

// Reverses filter `filter` of one row of `length` bytes with pixels of
// `pixelBytes` (1, 2, 3, 4, 6 or 8) bytes: from the filtered bytes `in` and
// the previous row's bytes as reversed, `prior` (zeros for the first row),
// writes the row's bytes to `out`. `out` may be `in` or lie before it (the
// rows of a buffer moved towards its start as they are reversed); `prior`
// must not overlap `out`. Vector code where the pixel size allows it: Sub and
// Up for every size; Average and Paeth one byte after another.
void reversePngFilter(int filter, int pixelBytes, const std::uint8_t* in, std::uint8_t* out,
                      const std::uint8_t* prior, std::size_t length);
