#pragma once

#include <cstddef>

namespace ostrel::PngRows {

// Undoes the filter a PNG encoder put on one row of 3- or 4-byte pixels (`pixelBytes`), in place.
// `prior` is the previous row already unfiltered (zeros above the first row). Both may be read up
// to 16 bytes past `length`: callers keep that much slack behind every row they pass. False for a
// filter type that does not exist.
bool unfilter(int filter, int pixelBytes, unsigned char* row, const unsigned char* prior,
              std::size_t length);

// The same one byte at a time, for processors without the vector instructions (and to check
// those against).
bool unfilterPlain(int filter, int pixelBytes, unsigned char* row, const unsigned char* prior,
                   std::size_t length);

} // namespace ostrel::PngRows
