#pragma once

// A plain model of forkit's text mode, to hold the real one against.

#include <string>

// Reading: each CR LF pair becomes LF; every other byte stays.
inline std::string model_read(const std::string& bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i++)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += bytes[i];
    return text;
}

// Writing: each LF becomes CR LF.
inline std::string model_write(const std::string& text)
{
    std::string bytes;
    for (char c : text)
        bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return bytes;
}
