#include "carriage_returns.h"

#include <cstring>

// On x86, SSE2 is always there; the SSSE3 loop is compiled for that target
// on its own and taken only when the CPU has it. FORKIT_PORTABLE_COPY builds
// the portable loop alone, to test it where the others would be taken.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(FORKIT_PORTABLE_COPY)
#include <emmintrin.h>
#include <tmmintrin.h>
#define FORKIT_SSE2 1
#if defined(_MSC_VER)
#include <intrin.h>
#endif
#if defined(__GNUC__) || defined(__clang__)
#define FORKIT_TARGET_SSSE3 __attribute__((target("ssse3")))
#else
#define FORKIT_TARGET_SSSE3
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

// The loops this build has, plainest first.
static const struct {
    const char* name;
    AddCarriageReturns* add;
} loops[] = {
    {"portable", add_carriage_returns<bare_line_feeds_one_by_one>},
#if FORKIT_SSE2
    {"sse2", add_carriage_returns<bare_line_feeds_sse2>},
    {"ssse3", add_carriage_returns_by_shuffle},
#endif
};

static int count_usable_loops()
{
    int count = static_cast<int>(sizeof loops / sizeof loops[0]);
#if FORKIT_SSE2
    if (!cpu_has_ssse3())
        count--; // the SSSE3 loop, the last
#endif
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
