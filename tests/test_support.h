#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

// A fresh temporary folder for each test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path root;
};

void write_file(const fs::path& path, const std::string& bytes);
std::string read_file(const fs::path& path);

// Every file and folder below `top`, as sorted relative paths with "/".
std::vector<std::string> tree_listing(const fs::path& top);

// True for a Windows program running under Wine, which falls short of
// Windows in places that some tests reach.
bool running_under_wine();
