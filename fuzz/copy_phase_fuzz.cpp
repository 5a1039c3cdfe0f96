// Fuzzes the copy and build-script phases in a real temporary tree: a fuzzed
// copy list and build list, fuzzed source files, and code sets outside the
// tree, in it, and reached through ".." or links. Each input gets a fresh
// tree; what the phases print and every file under the work folder are held
// against what forkit promises.
//
// Input: fields apart at each 0xFF byte:
//   control, copy list, build list, then pairs of file name and contents.
// control[0]: bits 0-1 the copy list's module (root, game, cgame, ui), bits
//   2-4 the code set's shape, bits 5-6 the build list's module (game, cgame,
//   ui); control[1] bit 0: the code set already holds an earlier file of each
//   name. File i goes to module (copy module + i) % 4, its name made plain.

#include "driver/checks.h"
#include "generate/copy_listed_files.h"
#include "generate/write_build_script.h"
#include "support/held_folders.h"
#include "text_model.h"
#include "tree_snapshot.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const DIRS[] = {"", "game", "cgame", "ui"};
const char* const COPY_LISTS[] = {"copyproject.dat", "copygame.dat", "copycgame.dat", "copyui.dat"};
const char* const BUILD_LISTS[] = {"buildgame.dat", "buildcgame.dat", "buildui.dat"};
const char* const OUTPUTS[] = {"qagame", "cgame", "ui"};
// Code set shapes, from the tree; `outside` ones are a fresh folder beside it.
struct Shape {
    const char* path;
    bool outside;
};
const Shape SHAPES[] = {{"../set", true},   {".", false},
                        {"game", false},    {"../tree/cgame/..", false},
                        {"../link", false}, {"../game link", false},
                        {"../set/", true},  {"ui/../game", false}};

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "forkit broke a promise: %s\n", what.c_str());
    std::abort();
}

// The entries of a list: reads of at most 79 characters, each ending after a
// line feed if one comes first, less their last character; those left
// shorter than two characters are skipped.
std::vector<std::string> model_entries(const std::string& list)
{
    const std::string text = model_read(list);
    std::vector<std::string> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 0;
        while (length < 79 && at + length < text.size() && text[at + length++] != '\n') {
        }
        std::string piece = text.substr(at, length);
        at += length;
        if (piece.size() >= 3)
            entries.push_back(piece.substr(0, piece.size() - 1));
    }
    return entries;
}

// The code point of the well-formed UTF-8 character at `i` and its length
// in *length (RFC 3629: no overlong form, no surrogate, nothing above
// U+10FFFF); *length 0 where none starts.
unsigned long model_character(const std::string& text, std::size_t i, std::size_t* length)
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = lead >= 0xC0 && lead < 0xE0   ? 2
                          : lead >= 0xE0 && lead < 0xF0 ? 3
                          : lead >= 0xF0 && lead < 0xF8 ? 4
                                                        : 0;
    static const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    unsigned long point = n == 0 ? 0 : lead & (0x7F >> n);
    *length = 0;
    for (std::size_t k = 1; k < n; k++) {
        const unsigned char next =
            i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
        if ((next & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (next & 0x3F);
    }
    if (n != 0 && point >= least[n] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF))
        *length = n;
    return point;
}

// An entry as the console shows it: control characters but tab as '?', and
// each C1 control, a character U+0080 to U+009F or a byte 80 to 9F outside a
// well-formed character, as one.
std::string shown(const std::string& entry)
{
    std::string text;
    for (std::size_t i = 0; i < entry.size();) {
        std::size_t length;
        const unsigned long point = model_character(entry, i, &length);
        const unsigned char c = static_cast<unsigned char>(entry[i]);
        if (length > 0) {
            text += point <= 0x9F ? "?" : entry.substr(i, length);
            i += length;
        } else {
            text += (c < 32 && c != '\t') || c == 127 || (c >= 0x80 && c <= 0x9F) ? '?' : entry[i];
            i++;
        }
    }
    return text;
}

void write_all(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        fail("setup could not write " + path.string());
}

std::vector<std::string> split(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < size; i++) {
        if (data[i] == 0xFF)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}

// A name the harness can make a file of: plain characters only.
std::string plain_name(const std::string& name)
{
    std::string plain;
    for (char c : name)
        plain += std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'
                     ? c
                     : '_';
    return plain.empty() || plain[0] == '.' ? "" : plain.substr(0, 40);
}

// A name forkit takes for its unfinished files: it refuses such an entry
// (spelled in any case), and removes such a file (spelled as it makes them)
// in a folder it writes into, outside the tree.
bool is_temporary(const std::string& name, bool any_case = true)
{
    std::string lower = name;
    for (char& c : lower)
        c = any_case ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
    for (const char* suffix : {".forkit-new", ".forkit-new2", ".forkit-new3", ".forkit-new4"}) {
        const std::string end = suffix;
        if (lower.size() >= end.size() &&
            lower.compare(lower.size() - end.size(), end.size(), end) == 0)
            return true;
    }
    return false;
}

bool is_plain(const std::string& entry)
{
    return !entry.empty() && plain_name(entry) == entry && !is_temporary(entry);
}

struct Work {
    fs::path top; // canonical
    int console = -1;
    int home = -1; // the directory to come back to after each input
};

// Made on the first input and removed at exit; never destroyed before that.
Work& work()
{
    static Work* const w = [] {
        Work* made = new Work;
        std::string folder = (fs::temp_directory_path() / "forkit-fuzz-XXXXXX").string();
        if (mkdtemp(&folder[0]) == NULL)
            fail("no temporary folder");
        made->top = fs::canonical(folder);
        made->console = open((made->top.string() + ".console").c_str(),
                             O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 0600);
        made->home = open(".", O_RDONLY | O_DIRECTORY);
        if (made->console < 0 || made->home < 0)
            fail("no console file or no way home");
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(work().top, ignored);
            fs::remove(work().top.string() + ".console", ignored);
        });
        return made;
    }();
    return *w;
}

// The key in a snapshot of the work folder of a path forkit was given,
// relative to the tree; empty if it lies outside the work folder.
std::string key_of(const std::string& forkit_path)
{
    std::string native = forkit_path;
    for (char& c : native)
        if (c == '\\')
            c = '/';
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(work().top / "tree" / native, error);
    if (error)
        return "";
    std::string key = resolved.lexically_relative(work().top).generic_string();
    return key.empty() || key.compare(0, 2, "..") == 0 ? "" : key;
}

bool under(const std::string& key, const std::string& folder)
{
    return folder == "." || key.compare(0, folder.size() + 1, folder + "/") == 0;
}

// A path joined as an entry is typed, with '\\'.
std::string joined(const std::string& a, const std::string& b)
{
    return a.empty() ? b : a + "\\" + b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> fields = split(data, size);
    if (fields.size() < 3 || fields[0].empty())
        return 0;
    const unsigned control = static_cast<unsigned char>(fields[0][0]);
    const bool earlier = fields[0].size() > 1 && (fields[0][1] & 1);
    const int copy_module = control & 3;
    const Shape shape = SHAPES[(control >> 2) & 7];
    const int build_module = ((control >> 5) & 3) % 3;

    // A fresh tree, code set and link for this input.
    const fs::path top = work().top;
    if (chdir(top.c_str()) != 0)
        fail("cannot enter the work folder");
    std::vector<fs::path> old;
    for (const auto& entry : fs::directory_iterator(top))
        old.push_back(entry.path());
    for (const fs::path& path : old)
        fs::remove_all(path);
    const fs::path tree = top / "tree";
    for (const char* dir : DIRS) {
        fs::create_directories(tree / dir);
        fs::create_directories(top / "set" / dir);
        fs::create_directories(tree / "game" / dir);
    }
    fs::create_directory_symlink(tree, top / "link");
    fs::create_directory_symlink(tree / "game", top / "game link");
    write_all(top / "outside.txt", "outside\n");
    write_all(tree / COPY_LISTS[copy_module], fields[1]);
    write_all(tree / BUILD_LISTS[build_module], fields[2]);
    for (std::size_t i = 3; i + 1 < fields.size(); i += 2) {
        const std::string name = plain_name(fields[i]);
        if (name.empty())
            continue;
        const char* dir = DIRS[(copy_module + (i - 3) / 2) % 4];
        if (fs::is_directory(tree / dir / name) || fs::is_directory(top / "set" / dir / name))
            continue;
        write_all(tree / dir / name, fields[i + 1]);
        if (earlier)
            write_all(top / "set" / dir / name, "earlier " + name);
    }
    if (chdir(tree.c_str()) != 0)
        fail("cannot enter the tree");
    const Snapshot before = snapshot(top);
    // The folders a run holds once its checks pass, as the driver holds them.
    release_held_folders();
    if (!source_tree_valid())
        fail("the tree is not one");
    copy_listed_files(COPY_LISTS[copy_module], NULL, DIRS[copy_module]);
    hold_no_other_tree_folder();
    if (hold_root(CODE_SET, shape.path, 0))
        for (const char* dir : {"game", "cgame", "ui"})
            (void)hold_module(CODE_SET, dir, 1);

    // Both phases, with the console caught in a file.
    if (ftruncate(work().console, 0) != 0)
        fail("cannot empty the console");
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(work().console, 1);
    copy_listed_files(COPY_LISTS[copy_module], shape.path, DIRS[copy_module]);
    write_build_script(BUILD_LISTS[build_module], shape.path, "Q:\\quake3", "mymod",
                       DIRS[build_module + 1], OUTPUTS[build_module]);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    const std::string console = file_bytes(top.string() + ".console");
    if (fchdir(work().home) != 0)
        fail("cannot come back from the tree");
    const Snapshot after = snapshot(top);

    // One line per entry of the list, in order, then the script's failure if any.
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = console.find('\n', start)) != std::string::npos) {
        lines.push_back(console.substr(start, end - start));
        start = end + 1;
    }
    if (start != console.size())
        fail("a console line without its line feed");
    const std::vector<std::string> entries = model_entries(fields[1]);
    if (lines.size() != entries.size() && lines.size() != entries.size() + 1)
        fail("the console has " + std::to_string(lines.size()) + " lines for " +
             std::to_string(entries.size()) + " entries");

    const std::string set_key = key_of(shape.path);
    std::map<std::string, std::string> written; // key -> bytes it must now hold
    Snapshot now = before;                      // as each copy leaves it
    for (std::size_t i = 0; i < entries.size(); i++) {
        const std::string& entry = entries[i];
        const std::string dest = key_of(joined(joined(shape.path, DIRS[copy_module]), entry));
        const std::string source = key_of(joined(DIRS[copy_module], entry));
        if (entry.find('\0') != std::string::npos) {
            // An entry holding a NUL is refused whole, never cut at the NUL.
            if (lines[i] != "  Error copying " + shown(entry))
                fail("an entry holding a NUL was not refused: " + lines[i]);
        } else if (lines[i] == "  " + shown(entry) + " Copied") {
            if (dest.empty() || set_key.empty() || !under(dest, set_key))
                fail("copied outside the code set: " + entry);
            auto found = now.find(source);
            if (found == now.end() || found->second == "/" || found->second.rfind("-> ", 0) == 0)
                fail("copied from no file: " + entry);
            written[dest] = now[dest] = model_write(model_read(found->second));
        } else if (lines[i] == "  Error copying " + shown(entry)) {
            // A plain entry naming a file, into a folder beside the tree, must copy.
            auto found = now.find(source);
            auto there = now.find(dest);
            if (shape.outside && is_plain(entry) && found != now.end() && found->second != "/" &&
                (there == now.end() || there->second != "/"))
                fail("refused a plain copy: " + entry);
        } else {
            fail("unexpected console line: " + lines[i]);
        }
    }
    const std::string module = DIRS[build_module + 1];
    const std::string script = joined(joined(shape.path, module), module + ".q3asm");
    if (lines.size() > entries.size()) {
        if (lines.back() !=
            "  Error creating " + std::string(shape.path) + "/" + module + "/" + module + ".q3asm")
            fail("unexpected console line: " + lines.back());
    } else {
        const std::string key = key_of(script);
        if (key.empty())
            fail("a command file outside the work folder");
        written[key] =
            model_write("-o \"Q:\\quake3/mymod/vm/" + std::string(OUTPUTS[build_module]) + "\"\n" +
                        model_read(fields[2]));
    }

    // Nothing else changed; no file of the tree was replaced; nothing left behind.
    for (const auto& [key, bytes] : before) {
        auto found = after.find(key);
        if (found == after.end() && !(is_temporary(key, false) && !under(key, "tree")))
            fail("removed: " + key);
        if (found == after.end())
            continue;
        if (found->second != bytes && (written.count(key) == 0 || under(key, "tree")))
            fail("changed: " + key);
    }
    for (const auto& [key, bytes] : after) {
        if (before.count(key) == 0 && is_temporary(key))
            fail("left behind: " + key);
        if (before.count(key) == 0 && written.count(key) == 0)
            fail("appeared: " + key);
        auto expected = written.find(key);
        if (expected != written.end() && expected->second != bytes)
            fail("wrong contents: " + key);
    }
    return 0;
}
