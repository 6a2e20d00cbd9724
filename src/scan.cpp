#include "scan.h"

#include <emmintrin.h>

const char *find_digit_scalar(const char *begin, const char *end) {
    for (const char *p = begin; p < end; ++p)
        if (*p >= '0' && *p <= '9')
            return p;
    return end;
}

// Sixteen bytes at a time: subtracting '0' maps the digits to 0..9, and after flipping the sign
// bit one signed comparison tells which bytes lie in that range. The tail goes to the scalar loop.
const char *find_digit(const char *begin, const char *end) {
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

const char *find_url_mark_scalar(const char *begin, const char *end) {
    for (const char *p = begin; end - p >= 3; ++p)
        if (p[0] == ':' && p[1] == '/' && p[2] == '/')
            return p;
    return end;
}

// Compares sixteen positions at once with three loads, one byte apart.
const char *find_url_mark(const char *begin, const char *end) {
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i slash = _mm_set1_epi8('/');
    const char *p = begin;
    for (; end - p >= 18; p += 16) {
        __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
        __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 2));
        __m128i match = _mm_and_si128(
            _mm_cmpeq_epi8(first, colon),
            _mm_and_si128(_mm_cmpeq_epi8(second, slash), _mm_cmpeq_epi8(third, slash)));
        int mask = _mm_movemask_epi8(match);
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
    return find_url_mark_scalar(p, end);
}

std::size_t count_newlines_scalar(const char *begin, const char *end) {
    std::size_t count = 0;
    for (const char *p = begin; p < end; ++p)
        count += *p == '\n';
    return count;
}

// Each matching byte subtracts -1 from its lane's counter; before a lane can overflow, the
// lanes are summed into two 64-bit halves with one sum of absolute differences.
std::size_t count_newlines(const char *begin, const char *end) {
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    std::size_t count = 0;
    const char *p = begin;
    while (end - p >= 16) {
        __m128i lanes = zero;
        for (int round = 0; round < 255 && end - p >= 16; ++round, p += 16) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, newline));
        }
        __m128i sums = _mm_sad_epu8(lanes, zero);
        count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
    return count + count_newlines_scalar(p, end);
}
