// Views of file ranges: mapped bytes equal the file's; a file truncated under a mapping reads
// zeros past its new end and says so instead of stopping the process with SIGBUS; a special file
// is read by pread; and a SIGBUS from outside any view still reaches the handler set before.
// Each case runs in a child process (a death test), since a fault it fails to catch ends it.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "export/file_io.hpp"
#include "temp_path.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 7;
    for (char& c : s) c = static_cast<char>('a' + (x = x * 1103515245u + 12345u) % 26);
    return s;
}

std::string write_file(const std::string& name, const std::string& bytes) {
    const std::string path = temp_path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

struct Case {
    const char* name;
    std::uint64_t from, to;
    // Truncated to this size before the view is made, after it is made, or -1: left alone.
    long long before, after;
    bool ok, intact;
};

// The exit code says what the child saw: 0 all as expected; else which check failed.
int run_case(const Case& c, const std::string& path, const std::string& content) {
    ep::File f(path);
    if (!f) return 10;
    if (c.before >= 0 && ::truncate(path.c_str(), c.before) != 0) return 11;
    std::string fallback;
    ep::FileView view(f, c.from, c.to, fallback);
    if (view.ok() != c.ok) return 12;
    if (!view.ok()) return 0;
    if (!view.mapped()) return 13;
    if (c.after >= 0 && ::truncate(path.c_str(), c.after) != 0) return 14;
    const std::string_view got = view.bytes();
    if (got.size() != c.to - c.from) return 15;
    // Every byte still in the file is the file's; every byte past its end reads as zero.
    const std::uint64_t end = c.after >= 0 ? static_cast<std::uint64_t>(c.after) : c.to;
    for (std::uint64_t i = c.from; i < c.to; ++i) {
        const char want = i < end ? content[i] : '\0';
        if (got[i - c.from] != want) return 16;
    }
    if (view.intact() != c.intact) return 17;
    return 0;
}

TEST(FileViewDeathTest, MappedRangesAndFilesThatShrink) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string content = pattern(4 * kMiB);
    // clang-format off
    const Case cases[] = {
        {"whole file",                    0,        4 * kMiB, -1,       -1,                true,  true},
        {"a later piece",                 kMiB,     3 * kMiB, -1,       -1,                true,  true},
        {"shorter than planned",          kMiB,     3 * kMiB, 2 * kMiB, -1,                false, false},
        {"shrunk to a page boundary",     0,        4 * kMiB, -1,       2 * kMiB,          true,  false},
        {"shrunk mid page",               0,        4 * kMiB, -1,       2 * kMiB + 100,    true,  false},
        {"shrunk inside the last page",   0,        4 * kMiB, -1,       4 * kMiB - 100,    true,  false},
        {"shrunk to nothing",             kMiB,     2 * kMiB, -1,       0,                 true,  false},
        {"shrunk past the view's end",    0,        2 * kMiB, -1,       3 * kMiB,          true,  true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write_file("file_view.bin", content);
        // The child (a process of its own under this style) writes and removes its own copy.
        EXPECT_EXIT(
            {
                const int seen = run_case(c, path, content);
                std::remove(path.c_str());
                std::_Exit(seen);
            },
            ::testing::ExitedWithCode(0), "");
        std::remove(path.c_str());
    }
}

TEST(FileView, SpecialFilesAreReadNotMapped) {
    ep::File f("/dev/zero");
    ASSERT_TRUE(f);
    std::string fallback;
    ep::FileView view(f, 4096, 4096 + 3 * kMiB, fallback);
    ASSERT_TRUE(view.ok());
    EXPECT_FALSE(view.mapped());
    EXPECT_EQ(view.bytes(), std::string(3 * kMiB, '\0'));
    EXPECT_TRUE(view.intact());
}

void exit_three(int) {
    std::_Exit(3);
}

// A fault outside the view a thread holds is no shrink of ours: it goes to the handler before.
TEST(FileViewDeathTest, OtherFaultsReachTheHandlerBefore) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = write_file("file_view_other.bin", pattern(2 * kMiB));
    EXPECT_EXIT(
        {
            ::signal(SIGBUS, exit_three);
            ep::File f(path);
            std::string fallback;
            ep::FileView view(f, 0, kMiB, fallback);  // ours installed, chained to exit_three
            const int fd = ::open(path.c_str(), O_RDONLY);
            auto* other = static_cast<volatile char*>(
                ::mmap(nullptr, 2 * kMiB, PROT_READ, MAP_SHARED, fd, 0));
            if (::truncate(path.c_str(), 0) != 0) std::_Exit(4);
            const char c = other[kMiB + 5];  // past the end, outside the view
            std::_Exit(c == 0 ? 5 : 6);
        },
        ::testing::ExitedWithCode(3), "");
    std::remove(path.c_str());
}

}  // namespace
