#include "carriage_returns.h"

#include <cstring>

// On x86, SSE2 is always there; the SSSE3 and AVX-512 loops are compiled for
// their targets on their own and taken only when the CPU has them (the
// AVX-512 one on 64-bit builds alone, for the 64-bit bit deposits it uses).
// FORKIT_PORTABLE_COPY builds the portable loop alone, to test it where the
// others would be taken.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(FORKIT_PORTABLE_COPY)
#include <emmintrin.h>
#include <tmmintrin.h>
#define FORKIT_SSE2 1
#if defined(__x86_64__) || defined(_M_X64)
#include <cstdint>
#include <immintrin.h>
#define FORKIT_AVX512 1
#endif
#if defined(_MSC_VER)
#include <intrin.h>
#endif
#if defined(__GNUC__) || defined(__clang__)
#define FORKIT_TARGET_SSSE3 __attribute__((target("ssse3")))
#define FORKIT_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi2,popcnt")))
#else
#define FORKIT_TARGET_SSSE3
#define FORKIT_TARGET_AVX512
#endif
#endif

// Blocks are looked at a chunk of 16 bytes at a time: up to two chunks are
// read past the text's end, and three written past the copy's.
enum { CHUNK = 16 };
static_assert(LOOP_READS_PAST >= 2 * CHUNK && LOOP_WRITES_PAST >= 3 * CHUNK,
              "the buffers' room past the data");

// Bit i is set when text[i] is a bare LF; these read text[-1] to text[15].
typedef unsigned FindBareLineFeeds(const char* text);

static unsigned bare_line_feeds_one_by_one(const char* text)
{
    unsigned bits = 0;
    for (int i = 0; i < CHUNK; i++) {
        if (text[i] == '\n' && text[i - 1] != '\r')
            bits |= 1u << i;
    }
    return bits;
}

#if FORKIT_SSE2
static unsigned bare_line_feeds_sse2(const char* text)
{
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text - 1));
    const __m128i line_feeds = _mm_cmpeq_epi8(here, _mm_set1_epi8('\n'));
    const __m128i carriage_returns = _mm_cmpeq_epi8(before, _mm_set1_epi8('\r'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(carriage_returns, line_feeds)));
}
#endif

// The bare LFs of the chunk at `start` among `count` bytes, none past the end.
template <FindBareLineFeeds* find>
static unsigned bare_line_feeds_in_chunk(const char* text, std::size_t start, std::size_t count)
{
    unsigned bits = find(text + start);
    if (count - start < CHUNK)
        bits &= (1u << (count - start)) - 1;
    return bits;
}

// The index of the lowest set bit; `bits` is not 0.
static unsigned lowest_bit(unsigned bits)
{
#if defined(__GNUC__)
    return static_cast<unsigned>(__builtin_ctz(bits));
#else
    unsigned index = 0;
    while ((bits & 1u) == 0) {
        bits >>= 1;
        index++;
    }
    return index;
#endif
}

template <FindBareLineFeeds* find>
static int has_bare_line_feed(const char* text, std::size_t count)
{
    // Four chunks a round, so that the loop costs little beside the looking.
    std::size_t start = 0;
    for (; start + 4 * CHUNK <= count; start += 4 * CHUNK) {
        if ((find(text + start) | find(text + start + CHUNK) | find(text + start + 2 * CHUNK) |
             find(text + start + 3 * CHUNK)) != 0)
            return 1;
    }
    for (; start < count; start += CHUNK) {
        if (bare_line_feeds_in_chunk<find>(text, start, count) != 0)
            return 1;
    }
    return 0;
}

// Each chunk is copied whole; then for each bare LF a CR is put in its place
// and the rest of the chunk, from the LF on, copied again one byte further
// along. Most chunks have one bare LF or none, so the first is put in without
// a test: for none, the CR and the copy land past the chunk's end, where the
// next chunk writes over them.
template <FindBareLineFeeds* find>
static std::size_t add_carriage_returns(const char* text, std::size_t count, char* out)
{
    if (!has_bare_line_feed<find>(text, count))
        return 0;
    std::size_t added = 0;
    for (std::size_t start = 0; start < count; start += CHUNK) {
        unsigned bits = bare_line_feeds_in_chunk<find>(text, start, count);
        char* to = out + start + added;
        std::memcpy(to, text + start, CHUNK);
        unsigned at = lowest_bit(bits | 1u << CHUNK);
        to[at] = '\r';
        std::memcpy(to + at + 1, text + start + at, CHUNK);
        unsigned found = bits != 0;
        to += found;
        added += found;
        for (bits &= bits - 1; bits != 0; bits &= bits - 1) {
            at = lowest_bit(bits);
            to[at] = '\r';
            std::memcpy(to + at + 1, text + start + at, CHUNK);
            to++;
            added++;
        }
    }
    return count + added;
}

#if FORKIT_SSE2
// For each mask of the bare LFs among 8 bytes: the shuffle that spreads the
// 8 (in lanes 0 to 7) over the first 8 + n of 16 lanes, with a CR (from lane
// 8) before each of the n bare LFs; and that n.
struct Spreads {
    unsigned char lanes[256][16];
    unsigned char added[256];
};

static constexpr Spreads make_spreads()
{
    Spreads spreads{};
    for (unsigned mask = 0; mask < 256; mask++) {
        unsigned to = 0;
        for (unsigned i = 0; i < 8; i++) {
            if ((mask >> i & 1) != 0)
                spreads.lanes[mask][to++] = 8;
            spreads.lanes[mask][to++] = static_cast<unsigned char>(i);
        }
        spreads.added[mask] = static_cast<unsigned char>(to - 8);
        for (; to < 16; to++)
            spreads.lanes[mask][to] = 0x80; // a zero, written over by the next half
    }
    return spreads;
}

alignas(16) static constexpr Spreads spreads = make_spreads();

// Puts out 8 bytes, in lanes 0 to 7 of `half` beside 8 CRs, with a CR before
// each bare LF that `mask` marks, in one shuffle and one write of 16 bytes:
// the next write starts where the text ended.
FORKIT_TARGET_SSSE3
static char* spread_half(__m128i half, unsigned mask, char* to)
{
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(spreads.lanes[mask]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(half, lanes));
    return to + 8 + spreads.added[mask];
}

FORKIT_TARGET_SSSE3
static char* spread_chunk(const char* text, unsigned bits, char* to)
{
    const __m128i carriage_returns = _mm_set1_epi8('\r');
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    to = spread_half(_mm_unpacklo_epi64(chunk, carriage_returns), bits & 0xff, to);
    return spread_half(_mm_unpackhi_epi64(chunk, carriage_returns), bits >> 8, to);
}

// No branch however many bare LFs a chunk has.
FORKIT_TARGET_SSSE3
static std::size_t add_carriage_returns_by_shuffle(const char* text, std::size_t count, char* out)
{
    if (!has_bare_line_feed<bare_line_feeds_sse2>(text, count))
        return 0;
    char* to = out;
    std::size_t start = 0;
    for (; start < count; start += CHUNK)
        to = spread_chunk(text + start,
                          bare_line_feeds_in_chunk<bare_line_feeds_sse2>(text, start, count), to);
    // The last chunk went out whole, up to `start`, with no CR past `count`.
    return static_cast<std::size_t>(to - out) - (start - count);
}

static int cpu_has_ssse3()
{
#if defined(_MSC_VER)
    int registers[4];
    __cpuid(registers, 1);
    return (registers[2] >> 9 & 1) != 0;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
#endif
}
#endif

#if FORKIT_AVX512
// 64 bytes a round, each half of them spread over a write of 64 bytes: the
// last write ends up to 32 bytes past the zeros that pad the text to a whole
// round, which are up to 63.
enum { WIDE_CHUNK = 64 };
static_assert(LOOP_WRITES_PAST >= 32 + 63, "the buffers' room past the data");

// The first `count` of the 64 bytes at `text`, the rest as zeros: the loads
// never touch a byte past the text.
FORKIT_TARGET_AVX512
static __m512i load_wide_chunk(const char* text, std::size_t count)
{
    const __mmask64 wanted =
        count < WIDE_CHUNK ? (std::uint64_t(1) << count) - 1 : ~std::uint64_t(0);
    return _mm512_maskz_loadu_epi8(wanted, text);
}

// Bit i is set when text[i] is a bare LF, among the first `count` (up to 64);
// these read text[-1] on.
FORKIT_TARGET_AVX512
static std::uint64_t bare_line_feeds_wide(const char* text, std::size_t count)
{
    const __m512i here = load_wide_chunk(text, count);
    const __m512i before = load_wide_chunk(text - 1, count);
    return _mm512_cmpeq_epi8_mask(here, _mm512_set1_epi8('\n')) &
           ~_mm512_cmpeq_epi8_mask(before, _mm512_set1_epi8('\r'));
}

FORKIT_TARGET_AVX512
static int has_bare_line_feed_wide(const char* text, std::size_t count)
{
    for (std::size_t start = 0; start < count; start += WIDE_CHUNK) {
        if (bare_line_feeds_wide(text + start, count - start) != 0)
            return 1;
    }
    return 0;
}

// For 32 bytes whose bare LFs `bits` marks: which of the 32 + n lanes they
// become hold those bytes, the others a CR. Each byte is given two slots, one
// for a CR, filled for a bare LF, and one for itself (the odd slot); packing
// the filled slots together leaves the bytes' own marked.
FORKIT_TARGET_AVX512
static std::uint64_t lanes_of_text(std::uint32_t bits)
{
    const std::uint64_t own_slots = 0xAAAAAAAAAAAAAAAA;
    return _pext_u64(own_slots, _pdep_u64(bits, ~own_slots) | own_slots);
}

// Puts out the 32 bytes at `text`, of which `count` are text and the rest go
// out as zeros, with a CR before each bare LF that `bits` marks, in one
// expansion and one write of 64 bytes.
FORKIT_TARGET_AVX512
static char* expand_half(const char* text, std::size_t count, std::uint32_t bits, char* to)
{
    const __m512i spread = _mm512_mask_expand_epi8(_mm512_set1_epi8('\r'), lanes_of_text(bits),
                                                   load_wide_chunk(text, count));
    _mm512_storeu_si512(to, spread);
    return to + 32 + _mm_popcnt_u32(bits);
}

// No branch however many bare LFs, 64 bytes a round.
FORKIT_TARGET_AVX512
static std::size_t add_carriage_returns_by_expansion(const char* text, std::size_t count, char* out)
{
    if (!has_bare_line_feed_wide(text, count))
        return 0;
    char* to = out;
    std::size_t start = 0;
    for (; start < count; start += WIDE_CHUNK) {
        const std::size_t left = count - start;
        const std::uint64_t bits = bare_line_feeds_wide(text + start, left);
        to = expand_half(text + start, left, static_cast<std::uint32_t>(bits), to);
        to = expand_half(text + start + 32, left > 32 ? left - 32 : 0,
                         static_cast<std::uint32_t>(bits >> 32), to);
    }
    // The zeros past `count` went out too, up to `start`.
    return static_cast<std::size_t>(to - out) - (start - count);
}

// The system has to save the AVX-512 registers too; the compilers' own test
// checks that.
static int cpu_has_avx512_expansion()
{
#if defined(_MSC_VER)
    int basic[4], extended[4] = {0, 0, 0, 0};
    __cpuid(basic, 0);
    if (basic[0] >= 7)
        __cpuidex(extended, 7, 0);
    __cpuid(basic, 1);
    const int saved = (basic[2] >> 27 & 1) != 0 && (_xgetbv(0) & 0xE6) == 0xE6;
    const int popcnt = basic[2] >> 23 & 1, bmi2 = extended[1] >> 8 & 1;
    const int avx512f = extended[1] >> 16 & 1, avx512bw = extended[1] >> 30 & 1;
    const int avx512vbmi2 = extended[2] >> 6 & 1;
    return saved && popcnt && bmi2 && avx512f && avx512bw && avx512vbmi2;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2");
#endif
}
#endif

static int cpu_has_anything()
{
    return 1;
}

// The loops this build has, plainest first, each with what it needs of the
// CPU beyond the one before.
static const struct {
    const char* name;
    AddCarriageReturns* add;
    int (*cpu_runs)();
} loops[] = {
    {"portable", add_carriage_returns<bare_line_feeds_one_by_one>, cpu_has_anything},
#if FORKIT_SSE2
    {"sse2", add_carriage_returns<bare_line_feeds_sse2>, cpu_has_anything},
    {"ssse3", add_carriage_returns_by_shuffle, cpu_has_ssse3},
#endif
#if FORKIT_AVX512
    {"avx512", add_carriage_returns_by_expansion, cpu_has_avx512_expansion},
#endif
};

static int count_usable_loops()
{
    const int built = static_cast<int>(sizeof loops / sizeof loops[0]);
    int count = 0;
    while (count < built && loops[count].cpu_runs())
        count++;
    return count;
}

// How many of the loops this CPU runs, found out once at start. (A static
// inside a function would need a guard from the C++ runtime library, which
// forkit does without: a megabyte more memory.)
static const int usable_loops = count_usable_loops();

AddCarriageReturns* carriage_return_loop(int loop)
{
    return loop >= 0 && loop < usable_loops ? loops[loop].add : NULL;
}

const char* carriage_return_loop_name(int loop)
{
    return loop >= 0 && loop < usable_loops ? loops[loop].name : NULL;
}

AddCarriageReturns* fastest_carriage_return_loop()
{
    return loops[usable_loops - 1].add;
}
