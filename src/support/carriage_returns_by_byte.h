#pragma once

#include <cstddef>

// The plainest of the loops that put a CR before each bare LF (see
// carriage_returns.h): a byte at a time. The loop of builds for CPUs other
// than x86-64, and the one the others are held against.
inline std::size_t add_carriage_returns_by_byte(const char* text, std::size_t count, char* out)
{
    std::size_t length = 0;
    int added = 0;
    for (const char* at = text; at < text + count; at++) {
        if (*at == '\n' && at[-1] != '\r') {
            out[length++] = '\r';
            added = 1;
        }
        out[length++] = *at;
    }
    return added ? length : 0;
}
