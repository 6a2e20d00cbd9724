#include "scan.h"

#include <emmintrin.h>

const char *find_digit_scalar(const char *begin, const char *end)
{
    for (const char *p = begin; p < end; ++p)
        if (*p >= '0' && *p <= '9')
            return p;
    return end;
}

// Sixteen bytes at a time: subtracting '0' maps the digits to 0..9, and after flipping the sign
// bit one signed comparison tells which bytes lie in that range. The tail goes to the scalar loop.
const char *find_digit(const char *begin, const char *end)
{
    const __m128i zero = _mm_set1_epi8('0');
    const __m128i limit = _mm_set1_epi8(static_cast<char>(10 ^ 0x80));
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    const char *p = begin;
    for (; end - p >= 16; p += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i offset = _mm_xor_si128(_mm_sub_epi8(bytes, zero), flip);
        int mask = _mm_movemask_epi8(_mm_cmplt_epi8(offset, limit));
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
    return find_digit_scalar(p, end);
}

std::size_t count_newlines_scalar(const char *begin, const char *end)
{
    std::size_t count = 0;
    for (const char *p = begin; p < end; ++p)
        count += *p == '\n';
    return count;
}

std::size_t count_newlines(const char *begin, const char *end)
{
    const __m128i newline = _mm_set1_epi8('\n');
    std::size_t count = 0;
    const char *p = begin;
    for (; end - p >= 16; p += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
        count += static_cast<std::size_t>(__builtin_popcount(mask));
    }
    return count + count_newlines_scalar(p, end);
}
