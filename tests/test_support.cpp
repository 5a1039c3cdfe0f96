#include "test_support.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

void TempDirTest::SetUp()
{
    static int made = 0;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root = fs::temp_directory_path() /
           ("forkit-test-" + std::to_string(stamp) + "-" + std::to_string(++made));
    fs::create_directories(root);
}

void TempDirTest::TearDown()
{
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root, ignored);
}

void write_file(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string read_file(const fs::path& path)
{
    // Read whole, not a character at a time: some tests read large copies.
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> tree_listing(const fs::path& top)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(top))
        names.push_back(fs::relative(entry.path(), top).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

bool running_under_wine()
{
#ifdef _WIN32
    // Wine's ntdll tells its version; Windows' has no such function.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
#else
    return false;
#endif
}
