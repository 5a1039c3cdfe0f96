#include "carriage_returns.h"

#include "carriage_returns_by_byte.h"

#include <cstring>

// SSE2 is part of every x86-64 CPU; the SSSE3 loop is compiled for its
// target on its own, and taken only where the CPU has it. Other CPUs take
// the byte loop.
#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#include <tmmintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define FORKIT_TARGET_SSSE3
#else
#define FORKIT_TARGET_SSSE3 __attribute__((target("ssse3")))
#endif

// Blocks are looked at a chunk of 16 bytes at a time, read whole, so up to
// 15 bytes past the text's end; the shuffle writes 32 bytes a chunk.
const std::size_t CHUNK = 16;
static_assert(LOOP_READS_PAST >= CHUNK && LOOP_WRITES_PAST >= 2 * CHUNK, "room past the data");

// Bit i is set when text[i] is a bare LF; reads text[-1] to text[15].
static unsigned bare_line_feeds(const char* text)
{
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text - 1));
    const __m128i line_feeds = _mm_cmpeq_epi8(here, _mm_set1_epi8('\n'));
    const __m128i carriage_returns = _mm_cmpeq_epi8(before, _mm_set1_epi8('\r'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(carriage_returns, line_feeds)));
}

// The bare LFs of the chunk at `start` among `count` bytes, none past the end.
static unsigned bare_line_feeds_at(const char* text, std::size_t start, std::size_t count)
{
    unsigned bits = bare_line_feeds(text + start);
    return count - start < CHUNK ? bits & ((1u << (count - start)) - 1) : bits;
}

static int has_bare_line_feed(const char* text, std::size_t count)
{
    // Four chunks a round, so that the loop costs little beside the looking.
    std::size_t start = 0;
    for (; start + 4 * CHUNK <= count; start += 4 * CHUNK) {
        if ((bare_line_feeds(text + start) | bare_line_feeds(text + start + CHUNK) |
             bare_line_feeds(text + start + 2 * CHUNK) |
             bare_line_feeds(text + start + 3 * CHUNK)) != 0)
            return 1;
    }
    for (; start < count; start += CHUNK) {
        if (bare_line_feeds_at(text, start, count) != 0)
            return 1;
    }
    return 0;
}

// A chunk without a bare LF goes out in one copy; one with, a byte at a time.
static std::size_t add_carriage_returns_sse2(const char* text, std::size_t count, char* out)
{
    if (!has_bare_line_feed(text, count))
        return 0;
    char* to = out;
    for (std::size_t start = 0; start < count; start += CHUNK) {
        std::size_t length = count - start < CHUNK ? count - start : CHUNK;
        if (bare_line_feeds_at(text, start, count) == 0) {
            std::memcpy(to, text + start, CHUNK);
            to += length;
        } else {
            to += add_carriage_returns_by_byte(text + start, length, to);
        }
    }
    return static_cast<std::size_t>(to - out);
}

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

// No branch however many bare LFs a chunk has.
FORKIT_TARGET_SSSE3
static std::size_t add_carriage_returns_ssse3(const char* text, std::size_t count, char* out)
{
    if (!has_bare_line_feed(text, count))
        return 0;
    const __m128i carriage_returns = _mm_set1_epi8('\r');
    char* to = out;
    std::size_t start = 0;
    for (; start < count; start += CHUNK) {
        const unsigned bits = bare_line_feeds_at(text, start, count);
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + start));
        to = spread_half(_mm_unpacklo_epi64(chunk, carriage_returns), bits & 0xff, to);
        to = spread_half(_mm_unpackhi_epi64(chunk, carriage_returns), bits >> 8, to);
    }
    // The last chunk went out whole, up to `start`, with no CR past `count`.
    return static_cast<std::size_t>(to - out) - (start - count);
}

static int cpu_has_ssse3()
{
#if defined(_MSC_VER) && !defined(__clang__)
    int registers[4];
    __cpuid(registers, 1);
    return (registers[2] >> 9 & 1) != 0;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
#endif
}

const CarriageReturnLoop CARRIAGE_RETURN_LOOPS[] = {
    {"sse2", add_carriage_returns_sse2},
    {"ssse3", cpu_has_ssse3() ? add_carriage_returns_ssse3 : NULL},
};
#else
const CarriageReturnLoop CARRIAGE_RETURN_LOOPS[] = {{"byte", add_carriage_returns_by_byte}};
#endif

const int CARRIAGE_RETURN_LOOP_COUNT =
    sizeof CARRIAGE_RETURN_LOOPS / sizeof CARRIAGE_RETURN_LOOPS[0];

// Found once, at start. (A static inside a function would need a guard from
// the C++ runtime library, which forkit does without: a megabyte more memory.)
static AddCarriageReturns* const chosen =
    CARRIAGE_RETURN_LOOPS[CARRIAGE_RETURN_LOOP_COUNT - 1].add != NULL
        ? CARRIAGE_RETURN_LOOPS[CARRIAGE_RETURN_LOOP_COUNT - 1].add
        : CARRIAGE_RETURN_LOOPS[0].add;

AddCarriageReturns* chosen_carriage_return_loop()
{
    return chosen;
}
