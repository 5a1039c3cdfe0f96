#pragma once

// What a folder holds, to tell what a run changed. Shared by the end-to-end
// tests and the fuzz targets, so it needs nothing but the standard library.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

// Every file, folder and link below a folder by relative path: a file's bytes,
// "/" for a folder, "-> target" for a link (never followed), "(special)" for a
// FIFO or device.
using Snapshot = std::map<std::string, std::string>;

inline std::string file_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Snapshot snapshot(const std::filesystem::path& top)
{
    Snapshot entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        const std::string name = entry.path().lexically_relative(top).generic_string();
        if (entry.is_symlink())
            entries[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[name] = "/";
        else if (!entry.is_regular_file())
            entries[name] = "(special)"; // never read: a FIFO would wait
        else
            entries[name] = file_bytes(entry.path());
    }
    return entries;
}
