#include "Platform/PngRows.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ostrel::PngRows {

namespace {

enum Filter { none = 0, sub = 1, up = 2, average = 3, paeth = 4 };

unsigned char paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) {
        return static_cast<unsigned char>(a);
    }
    return static_cast<unsigned char>(pb <= pc ? b : c);
}

#ifdef __SSE2__

// One pixel in the low lanes of a register. A 3-byte pixel is read with the byte after it (the
// caller's slack makes that safe); that lane is never stored.
__m128i loadPixel(const unsigned char* p) {
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

template <int N> void storePixel(unsigned char* p, __m128i pixel) {
    const std::int32_t v = _mm_cvtsi128_si32(pixel);
    // Four bytes for a 3-byte pixel would overwrite the next pixel before it is unfiltered.
    std::memcpy(p, &v, N);
}

void upVector(unsigned char* row, const unsigned char* prior, std::size_t length) {
    std::size_t i = 0;
    // Whole registers only: the bytes past the row may be the next row, still filtered.
    for (; i + 16 <= length; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(x, b));
    }
    for (; i < length; ++i) {
        row[i] = static_cast<unsigned char>(row[i] + prior[i]);
    }
}

// Sub, Average and Paeth depend on the pixel just decoded, so they go a pixel at a time, every
// channel at once.
template <int N> void subVector(unsigned char* row, std::size_t length) {
    __m128i a = _mm_setzero_si128();
    for (std::size_t i = 0; i < length; i += N) {
        a = _mm_add_epi8(a, loadPixel(row + i));
        storePixel<N>(row + i, a);
    }
}

template <int N>
void averageVector(unsigned char* row, const unsigned char* prior, std::size_t length) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i a = _mm_setzero_si128();
    for (std::size_t i = 0; i < length; i += N) {
        const __m128i b = loadPixel(prior + i);
        // _mm_avg_epu8 rounds up; the filter rounds down.
        const __m128i mean =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(loadPixel(row + i), mean);
        storePixel<N>(row + i, a);
    }
}

__m128i absolute16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

__m128i select(__m128i mask, __m128i ifSet, __m128i otherwise) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
}

template <int N>
void paethVector(unsigned char* row, const unsigned char* prior, std::size_t length) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(0xff);
    // Left, above and above-left, widened to 16 bits so that the distances cannot wrap. Each
    // pixel waits for the one before it: the work on that path is kept to 16-bit lanes.
    __m128i a = zero;
    __m128i c = zero;
    for (std::size_t i = 0; i < length; i += N) {
        const __m128i b = _mm_unpacklo_epi8(loadPixel(prior + i), zero);
        const __m128i x = _mm_unpacklo_epi8(loadPixel(row + i), zero);
        const __m128i bc = _mm_sub_epi16(b, c);
        const __m128i ac = _mm_sub_epi16(a, c);
        const __m128i pa = absolute16(bc);
        const __m128i pb = absolute16(ac);
        const __m128i pc = absolute16(_mm_add_epi16(bc, ac));
        const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
        const __m128i predicted = select(notA, select(_mm_cmpgt_epi16(pb, pc), c, b), a);
        a = _mm_and_si128(_mm_add_epi16(x, predicted), low);
        storePixel<N>(row + i, _mm_packus_epi16(a, a));
        c = b;
    }
}

template <int N>
bool unfilterVector(int filter, unsigned char* row, const unsigned char* prior,
                    std::size_t length) {
    switch (filter) {
    case none:
        return true;
    case sub:
        subVector<N>(row, length);
        return true;
    case up:
        upVector(row, prior, length);
        return true;
    case average:
        averageVector<N>(row, prior, length);
        return true;
    case paeth:
        paethVector<N>(row, prior, length);
        return true;
    default:
        return false;
    }
}

#endif

} // namespace

bool unfilterPlain(int filter, int pixelBytes, unsigned char* row, const unsigned char* prior,
                   std::size_t length) {
    const std::size_t n = static_cast<std::size_t>(pixelBytes);
    switch (filter) {
    case none:
        return true;
    case sub:
        for (std::size_t i = n; i < length; ++i) {
            row[i] = static_cast<unsigned char>(row[i] + row[i - n]);
        }
        return true;
    case up:
        for (std::size_t i = 0; i < length; ++i) {
            row[i] = static_cast<unsigned char>(row[i] + prior[i]);
        }
        return true;
    case average:
        for (std::size_t i = 0; i < length; ++i) {
            const int left = i >= n ? row[i - n] : 0;
            row[i] = static_cast<unsigned char>(row[i] + ((left + prior[i]) >> 1));
        }
        return true;
    case paeth:
        for (std::size_t i = 0; i < length; ++i) {
            const int left = i >= n ? row[i - n] : 0;
            const int upperLeft = i >= n ? prior[i - n] : 0;
            row[i] = static_cast<unsigned char>(row[i] + paethPredictor(left, prior[i], upperLeft));
        }
        return true;
    default:
        return false;
    }
}

bool unfilter(int filter, int pixelBytes, unsigned char* row, const unsigned char* prior,
              std::size_t length) {
#ifdef __SSE2__
    if (pixelBytes == 3) {
        return unfilterVector<3>(filter, row, prior, length);
    }
    if (pixelBytes == 4) {
        return unfilterVector<4>(filter, row, prior, length);
    }
#endif
    return unfilterPlain(filter, pixelBytes, row, prior, length);
}

} // namespace ostrel::PngRows
