// The byte-scanning kernels: each SSE2 kernel beside its scalar twin, and the one choice of them.

#include "scan.h"

#include "characters.h"

#include <cstdint>
#include <cstring>

const char *find_long_token_scalar(const char *begin, const char *end, const char *&token_end,
                                   bool &hyphen) {
    for (const char *p = begin; p < end;) {
        if (*p < '0' || *p > '9') {
            ++p;
            continue;
        }
        bool dash = false;
        const char *q = find_token_end_scalar(p, end, dash);
        if (q - p >= SHORTEST_CANDIDATE) {
            token_end = q;
            hyphen = dash;
            return p;
        }
        p = q;
    }
    token_end = end;
    return end;
}

const char *find_url_mark_scalar(const char *begin, const char *end) {
    for (const char *p = begin; end - p >= 3; ++p)
        if (p[0] == ':' && p[1] == '/' && p[2] == '/')
            return p;
    return end;
}

const char *find_token_end_scalar(const char *begin, const char *end, bool &hyphen) {
    const char *p = begin;
    for (; p < end && is_token_byte(*p); ++p)
        hyphen |= *p == '-';
    return p;
}

const char *find_any_of_scalar(const char *begin, const char *end, const char (&set)[4]) {
    for (const char *p = begin; p < end; ++p)
        if (*p == set[0] || *p == set[1] || *p == set[2] || *p == set[3])
            return p;
    return end;
}

std::size_t count_newlines_scalar(const char *begin, const char *end) {
    std::size_t newlines = 0;
    for (const char *p = begin; p < end; ++p)
        newlines += *p == '\n';
    return newlines;
}

// Weights 1 to 9; the sum modulo 11 must equal the last character, where X stands for 10.
bool check_ISBN_10(const char *characters) {
    int sum = 0;
    for (int position = 1; position <= 9; ++position)
        sum += position * ISBN_character_value(characters[position - 1]);
    return sum % 11 == ISBN_character_value(characters[9]);
}

// Weights 1 and 3 in turn; an X (10) in the last place never equals a check value of 0 to 9.
bool check_ISBN_13(const char *characters) {
    int sum = 0;
    for (int position = 1; position <= 12; ++position)
        sum += (position % 2 == 1 ? 1 : 3) * ISBN_character_value(characters[position - 1]);
    int check = sum % 10 == 0 ? 0 : 10 - sum % 10;
    return check == ISBN_character_value(characters[12]);
}

bool check_ISBN_scalar(const char *characters, std::size_t count) {
    return count == 13 ? check_ISBN_13(characters) : check_ISBN_10(characters);
}

std::size_t first_high_above_scalar(const std::int32_t *highs, std::size_t from,
                                    std::uint32_t value) {
    while (static_cast<std::uint32_t>(highs[from]) <= value)
        ++from;
    return from;
}

// The SSE2 kernels are built wherever the target has SSE2 (every x86-64), so that tests hold them
// to their scalar twins in every build there. The scan uses them there too, but for a build that
// asks for the scalar twins (ORVANE_SCALAR_KERNELS, which the tests also run), and elsewhere.
#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

// The digits of bytes: adding 0x80 - '0' maps them to 0x80..0x89, the lowest signed bytes, so
// one signed comparison tells them.
__m128i digits_in(__m128i bytes) {
    return _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x80 - '0'))),
                          _mm_set1_epi8(static_cast<char>(0x80 + 10)));
}

// The token bytes of bytes, given their digits: digits, 'x' or 'X' (one comparison after
// setting the case bit), and '-'.
__m128i token_bytes_in(__m128i bytes, __m128i digits) {
    __m128i xs = _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('x'));
    return _mm_or_si128(_mm_or_si128(digits, xs), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')));
}

// The first "://" that starts in the sixteen positions from p, which has two bytes more after
// them, or nullptr: three loads one byte apart compare the sixteen at once.
const char *url_mark_in(const char *p) {
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i slash = _mm_set1_epi8('/');
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
    __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 2));
    __m128i match =
        _mm_and_si128(_mm_cmpeq_epi8(first, colon),
                      _mm_and_si128(_mm_cmpeq_epi8(second, slash), _mm_cmpeq_epi8(third, slash)));
    int mask = _mm_movemask_epi8(match);
    return mask != 0 ? p + __builtin_ctz(static_cast<unsigned>(mask)) : nullptr;
}

// Sixteen bytes at a time. Tokens are short, so the first block usually ends the run.
const char *run_end(const char *begin, const char *end, bool &hyphen) {
    const __m128i minus = _mm_set1_epi8('-');
    const char *p = begin;
    for (; end - p >= 16; p += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i hyphens = _mm_cmpeq_epi8(bytes, minus);
        unsigned token =
            static_cast<unsigned>(_mm_movemask_epi8(token_bytes_in(bytes, digits_in(bytes))));
        unsigned stop = ~token & 0xffffu;
        unsigned length = stop != 0 ? static_cast<unsigned>(__builtin_ctz(stop)) : 16;
        unsigned within = length == 16 ? 0xffffu : (1u << length) - 1;
        hyphen |= (static_cast<unsigned>(_mm_movemask_epi8(hyphens)) & within) != 0;
        if (stop != 0)
            return p + length;
    }
    return find_token_end_scalar(p, end, hyphen);
}

// Walks the masks of a round of WIDTH bytes from p (bit i for byte p + i): the digits, and the
// token bytes, each token's start and end. Returns the first token there of at least
// SHORTEST_CANDIDATE bytes, or nullptr with next set to where the search goes on; a short token
// is passed over without leaving the round. For a token that ends within the round, stop is
// set to its end bit, and the caller, which has the round's bytes, tells whether it holds a
// hyphen; a token that runs past the round is measured by the token kernel, which sets
// token_end and hyphen, and stop is set to 0.
template <unsigned WIDTH>
const char *long_token_in_masks(const char *p, const char *end, std::uint64_t starts,
                                std::uint64_t tokens, unsigned &stop, const char *&next,
                                const char *&token_end, bool &hyphen) {
    // The bytes that end a token; past the round nothing is known, and a token that reaches
    // the round's end is measured on by the token kernel.
    std::uint64_t stops =
        ~tokens & (WIDTH == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << WIDTH) - 1);
    while (starts != 0) {
        unsigned start = static_cast<unsigned>(__builtin_ctzll(starts));
        std::uint64_t after = stops >> start;
        if (after == 0) {
            // The token runs past the round.
            bool dash = false;
            const char *last = run_end(p + start, end, dash);
            if (last - (p + start) >= SHORTEST_CANDIDATE) {
                stop = 0;
                token_end = last;
                hyphen = dash;
                return p + start;
            }
            next = last;
            return nullptr;
        }
        stop = start + static_cast<unsigned>(__builtin_ctzll(after));
        if (stop - start >= SHORTEST_CANDIDATE) {
            token_end = p + stop;
            return p + start;
        }
        // Digits before the token's end are in the token.
        starts &= stop == 64 ? 0 : ~std::uint64_t{0} << stop;
    }
    return nullptr;
}

// Whether the bits [start, stop) of dashes hold one.
bool dash_between(std::uint64_t dashes, unsigned start, unsigned stop) {
    std::uint64_t below = stop == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << stop) - 1;
    return (dashes & below) >> start != 0;
}

// One round of the token search over the 16 * VECTORS bytes from p, as long_token_in_masks
// says. A round without a digit is passed over after one test of its vectors together.
template <int VECTORS>
const char *long_token_in_round(const char *p, const char *end, const char *&next,
                                const char *&token_end, bool &hyphen) {
    static_assert(VECTORS == 2 || VECTORS == 4);
    constexpr unsigned WIDTH = 16 * VECTORS;
    const auto *at = reinterpret_cast<const __m128i *>(p);
    __m128i bytes[VECTORS];
    __m128i digits[VECTORS];
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < VECTORS; ++i) {
        bytes[i] = _mm_loadu_si128(at + i);
        digits[i] = digits_in(bytes[i]);
        any = _mm_or_si128(any, digits[i]);
    }
    next = p + WIDTH;
    if (_mm_movemask_epi8(any) == 0)
        return nullptr;
    std::uint64_t starts = 0;
    std::uint64_t tokens = 0;
    for (int i = 0; i < VECTORS; ++i) {
        starts |= static_cast<std::uint64_t>(_mm_movemask_epi8(digits[i])) << (16 * i);
        tokens |= static_cast<std::uint64_t>(_mm_movemask_epi8(token_bytes_in(bytes[i], digits[i])))
                  << (16 * i);
    }
    unsigned stop = 0;
    const char *token =
        long_token_in_masks<WIDTH>(p, end, starts, tokens, stop, next, token_end, hyphen);
    if (token != nullptr && stop != 0) {
        std::uint64_t dashes = 0;
        for (int i = 0; i < VECTORS; ++i)
            dashes |= static_cast<std::uint64_t>(
                          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes[i], _mm_set1_epi8('-'))))
                      << (16 * i);
        hyphen = dash_between(dashes, static_cast<unsigned>(token - p), stop);
    }
    return token;
}

// The three scanning kernels below stay out of line: inlined by link-time optimisation into the
// filter, their loops took 1.7 times the user time on prose for the same instructions (7.3 against
// 4.3 ms a run, medians of 31 interleaved rounds).
// A round of thirty-two bytes first, for text where tokens come close together; then rounds of
// sixty-four; the last bytes go to the scalar loop.
[[gnu::noinline]] const char *find_long_token_sse2(const char *begin, const char *end,
                                                   const char *&token_end, bool &hyphen) {
    const char *p = begin;
    if (end - p >= 32)
        if (const char *token = long_token_in_round<2>(p, end, p, token_end, hyphen))
            return token;
    while (end - p >= 64)
        if (const char *token = long_token_in_round<4>(p, end, p, token_end, hyphen))
            return token;
    return find_long_token_scalar(p, end, token_end, hyphen);
}

// Sixty-four bytes a round look for a colon alone; a round that has one is compared in full,
// sixteen positions at a time. The tail goes sixteen at a time, then to the scalar loop.
[[gnu::noinline]] const char *find_url_mark_sse2(const char *begin, const char *end) {
    const __m128i colon = _mm_set1_epi8(':');
    const char *p = begin;
    for (; end - p >= 66; p += 64) {
        const auto *at = reinterpret_cast<const __m128i *>(p);
        __m128i colons = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(_mm_loadu_si128(at), colon),
                                                   _mm_cmpeq_epi8(_mm_loadu_si128(at + 1), colon)),
                                      _mm_or_si128(_mm_cmpeq_epi8(_mm_loadu_si128(at + 2), colon),
                                                   _mm_cmpeq_epi8(_mm_loadu_si128(at + 3), colon)));
        if (_mm_movemask_epi8(colons) == 0)
            continue;
        for (const char *q = p; q < p + 64; q += 16)
            if (const char *mark = url_mark_in(q))
                return mark;
    }
    for (; end - p >= 18; p += 16)
        if (const char *mark = url_mark_in(p))
            return mark;
    return find_url_mark_scalar(p, end);
}

// Sixteen bytes at a time, one comparison per byte of the set.
const char *find_any_of_sse2(const char *begin, const char *end, const char (&set)[4]) {
    const __m128i first = _mm_set1_epi8(set[0]);
    const __m128i second = _mm_set1_epi8(set[1]);
    const __m128i third = _mm_set1_epi8(set[2]);
    const __m128i fourth = _mm_set1_epi8(set[3]);
    const char *p = begin;
    for (; end - p >= 16; p += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i match =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second)),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, third), _mm_cmpeq_epi8(bytes, fourth)));
        int mask = _mm_movemask_epi8(match);
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
    return find_any_of_scalar(p, end, set);
}

// Sixty-four bytes a round: byte-wide lanes count the round's matches (each subtracts -1, at
// most four), and one sum of absolute differences adds them into two 64-bit lanes; then sixteen
// at a time, and the last few bytes one by one.
[[gnu::noinline]] std::size_t count_newlines_sse2(const char *begin, const char *end) {
    const __m128i newline = _mm_set1_epi8('\n');
    __m128i sums = _mm_setzero_si128();
    const char *p = begin;
    for (; end - p >= 64; p += 64) {
        const auto *at = reinterpret_cast<const __m128i *>(p);
        __m128i lanes = _mm_cmpeq_epi8(_mm_loadu_si128(at), newline);
        lanes = _mm_add_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(at + 1), newline));
        lanes = _mm_add_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(at + 2), newline));
        lanes = _mm_add_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(at + 3), newline));
        sums = _mm_add_epi64(
            sums, _mm_sad_epu8(_mm_sub_epi8(_mm_setzero_si128(), lanes), _mm_setzero_si128()));
    }
    for (; end - p >= 16; p += 16) {
        __m128i lanes =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), newline);
        sums = _mm_add_epi64(
            sums, _mm_sad_epu8(_mm_sub_epi8(_mm_setzero_si128(), lanes), _mm_setzero_si128()));
    }
    std::size_t newlines =
        static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
        static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    return newlines + count_newlines_scalar(p, end);
}

// Both tests as one weighted sum of 16 bytes, the weights chosen by the count: an ISBN-10's
// check character weighs 10, -1 modulo 11, so its sum is 0 modulo 11 where the test passes;
// an ISBN-13's weighs 1, and its sum is 0 modulo 10 where the test passes, unless the check
// character is an X. Bytes past the count weigh 0. No branch: which test applies is as random
// as the input.
bool check_ISBN_sse2(const char *characters, std::size_t count) {
    alignas(16) static constexpr std::int16_t WEIGHTS[2][16] = {
        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0, 0, 0, 0, 0},
        {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 0, 0, 0}};
    const __m128i *weights = reinterpret_cast<const __m128i *>(WEIGHTS[count == 13]);
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(characters));
    // '0' to '9' become 0 to 9, and 'x' and 'X' (40 and 72 after the subtraction) 10.
    __m128i values = _mm_min_epu8(_mm_sub_epi8(bytes, _mm_set1_epi8('0')), _mm_set1_epi8(10));
    __m128i zero = _mm_setzero_si128();
    __m128i sums = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(values, zero), weights[0]),
                                 _mm_madd_epi16(_mm_unpackhi_epi8(values, zero), weights[1]));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    auto sum = static_cast<unsigned>(_mm_cvtsi128_si32(sums));
    bool ten = sum % 11 == 0;
    bool thirteen = (sum % 10 == 0) & ((characters[12] | 0x20) != 'x'); // no branch
    return count == 13 ? thirteen : ten;
}
// The first high end above value, from from on, counted sixteen at a time: the high ends at or
// below value are the lower bits of each comparison's mask, since the high ends ascend. Most
// buckets meet one or two intervals, and a few up to a few dozen; keys fall in both alike, so
// the scalar search, which stops at the first high end above value, is mispredicted at almost
// every key.
std::size_t first_high_above_sse2(const std::int32_t *highs, std::size_t from,
                                  std::uint32_t value) {
    __m128i key = _mm_set1_epi32(static_cast<std::int32_t>(value));
    for (;;) {
        auto at = reinterpret_cast<const __m128i *>(highs + from);
        auto above = [&](int i) { // a bit for each of 4 high ends above value
            __m128i ends = _mm_loadu_si128(at + i);
            return static_cast<unsigned>(
                _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(ends, key))));
        };
        unsigned mask = above(0) | above(1) << 4 | above(2) << 8 | above(3) << 12;
        if (mask != 0)
            return from + static_cast<unsigned>(__builtin_ctz(mask));
        from += HIGHS_READ_AHEAD;
    }
}

} // namespace
#endif

// The one choice of kernels.
#if defined(__SSE2__) && !defined(ORVANE_SCALAR_KERNELS)

const char *find_token_end(const char *begin, const char *end, bool &hyphen) {
    return run_end(begin, end, hyphen);
}

const char *find_long_token(const char *begin, const char *end, const char *&token_end,
                            bool &hyphen) {
    return find_long_token_sse2(begin, end, token_end, hyphen);
}

const char *find_url_mark(const char *begin, const char *end) {
    return find_url_mark_sse2(begin, end);
}

const char *find_any_of(const char *begin, const char *end, const char (&set)[4]) {
    return find_any_of_sse2(begin, end, set);
}

std::size_t count_newlines(const char *begin, const char *end) {
    return count_newlines_sse2(begin, end);
}

bool check_ISBN(const char *characters, std::size_t count) {
    return check_ISBN_sse2(characters, count);
}

std::size_t first_high_above(const std::int32_t *highs, std::size_t from, std::uint32_t value) {
    return first_high_above_sse2(highs, from, value);
}

#else

const char *find_token_end(const char *begin, const char *end, bool &hyphen) {
    return find_token_end_scalar(begin, end, hyphen);
}

const char *find_long_token(const char *begin, const char *end, const char *&token_end,
                            bool &hyphen) {
    return find_long_token_scalar(begin, end, token_end, hyphen);
}

const char *find_url_mark(const char *begin, const char *end) {
    return find_url_mark_scalar(begin, end);
}

const char *find_any_of(const char *begin, const char *end, const char (&set)[4]) {
    return find_any_of_scalar(begin, end, set);
}

std::size_t count_newlines(const char *begin, const char *end) {
    return count_newlines_scalar(begin, end);
}

bool check_ISBN(const char *characters, std::size_t count) {
    return check_ISBN_scalar(characters, count);
}

std::size_t first_high_above(const std::int32_t *highs, std::size_t from, std::uint32_t value) {
    return first_high_above_scalar(highs, from, value);
}

#endif

// memrchr where the C library has it; a plain backward loop elsewhere.
const char *find_last_newline(const char *begin, const char *end) {
#ifdef __GLIBC__
    return static_cast<const char *>(memrchr(begin, '\n', static_cast<std::size_t>(end - begin)));
#else
    for (const char *p = end; p > begin;)
        if (*--p == '\n')
            return p;
    return nullptr;
#endif
}
