#pragma once

#include <cstddef>

// The translation at the heart of copying and writing text: a CR is put
// before each LF that has none ("bare"), so that every line ends in CR LF.

// Copies `count` bytes of `text` to `out` with a CR before each bare LF and
// returns the length of the copy, or returns 0 when the text has no bare LF
// and can go out as it is. text[-1] is the byte before the text (the last of
// the block before), which tells whether an LF at text[0] is bare. A loop
// reads up to LOOP_READS_PAST bytes past the text and writes up to
// LOOP_WRITES_PAST past the copy, so the buffers need that much room.
typedef std::size_t AddCarriageReturns(const char* text, std::size_t count, char* out);
enum { LOOP_READS_PAST = 32, LOOP_WRITES_PAST = 48 };

// Every loop this build may take, so that the tests run each of them; `add`
// is NULL for one this CPU cannot run.
struct CarriageReturnLoop {
    const char* name;
    AddCarriageReturns* add;
};
extern const CarriageReturnLoop CARRIAGE_RETURN_LOOPS[];
extern const int CARRIAGE_RETURN_LOOP_COUNT;

// The loop forkit takes on this CPU: the last of them it can run.
AddCarriageReturns* chosen_carriage_return_loop();
