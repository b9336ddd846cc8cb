// The ordered work queue: partials merged in push order whatever order the jobs end in, the
// first error in order, pushes held to the limit, a stop that ends waiting jobs, and text fed
// piece by piece that profiles as the one scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "export/pool.hpp"
#include "scan_whole.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

using namespace std::chrono_literals;

// `rows` rows of `tags` tags whose names are `width` bytes; every fifth row holds a quoted line
// feed in a long cell, so that pieces start inside quotes.
std::string export_text(std::size_t tags, std::size_t width, std::size_t rows) {
    std::string out = "timestamp";
    for (std::size_t k = 0; k < tags; ++k) {
        std::string name = "T" + std::to_string(k) + ".";
        name.resize(width, 'n');
        out += "," + name;
    }
    out += "\n";
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t s = r % 3600;
        out += "2024-01-01T0" + std::to_string(r / 3600 % 10) + ":" +
               std::to_string(10 + s / 60 % 50) + ":" + std::to_string(10 + s % 50) + "Z";
        for (std::size_t k = 0; k < tags; ++k)
            out += (r % 5 == 0 && k == 1) ? ",\"a\n" + std::string(60, 'b') + "\""
                                          : "," + std::to_string((r * 7 + k) % 97);
        out += "\n";
    }
    return out;
}

std::string seal_of(ep::PartialProfile partial) {
    auto finished = std::move(partial).finalize(ep::DeclaredFields{});
    EXPECT_TRUE(finished) << (finished ? "" : finished.error().reason);
    return finished ? finished.value().seal : "";
}

struct OrderCase {
    const char* name;
    unsigned threads;
    std::size_t limit;
    std::vector<int> delays_ms;      // per job; later jobs ending first test the order
    std::vector<std::size_t> fails;  // jobs that end in an error naming them
    const char* error;               // the error finish gives; empty: none
};

class QueueOrder : public ::testing::TestWithParam<OrderCase> {};

const OrderCase kOrders[] = {
    {"in_order", 1, 0, {0, 0, 0, 0}, {}, ""},
    {"later_jobs_end_first", 3, 0, {60, 30, 0}, {}, ""},
    {"held_to_one_in_flight", 2, 1, {20, 0, 20, 0, 20}, {}, ""},
    {"first_error_in_order_not_in_time", 2, 0, {0, 60, 0, 0}, {1, 3}, "job 1"},
    {"an_error_after_merges", 2, 2, {0, 0, 10, 0}, {2}, "job 2"},
};

TEST_P(QueueOrder, MergesInPushOrder) {
    const OrderCase& c = GetParam();
    // One digest block a job, the last job the rest: their partials merge back into the one
    // scan only in order.
    const std::size_t n = c.delays_ms.size();
    std::string whole = export_text(30, 6, 1);
    while (whole.size() < (n - 1) * ep::kDigestBlock + 100) whole += export_text(30, 6, 2000);
    std::unique_ptr<bool[]> odd(new bool[n]);
    std::vector<ep::Piece> pieces(n);
    for (std::size_t k = 0; k < n; ++k) {
        pieces[k].path = "f.csv";
        pieces[k].from = k * ep::kDigestBlock;
        pieces[k].to = k + 1 == n ? whole.size() : (k + 1) * ep::kDigestBlock;
        pieces[k].header_bytes = k == 0 ? 0 : ep::kDigestBlock;
        odd[k] = ep::odd_quotes(
            std::string_view(whole).substr(pieces[k].from, pieces[k].to - pieces[k].from));
    }
    const auto at_start = ep::chain_parities(std::span<const bool>(odd.get(), n));
    const std::string opening = whole.substr(0, ep::kDigestBlock);
    ep::WorkQueue queue(c.threads, c.limit, {});
    for (std::size_t k = 0; k < n; ++k) {
        const bool fails = std::find(c.fails.begin(), c.fails.end(), k) != c.fails.end();
        const auto delay = std::chrono::milliseconds(c.delays_ms[k]);
        const ep::Piece piece = pieces[k];
        const bool inside = at_start[k];
        const std::string_view data =
            std::string_view(whole).substr(piece.from, piece.to - piece.from);
        ASSERT_TRUE(queue.push(
            [&, fails, delay, piece, inside, data, k](
                std::string&, const std::atomic<bool>&) -> ep::Result<ep::PieceScan> {
                std::this_thread::sleep_for(delay);
                if (fails) return ep::ProfileError{"f.csv", "job " + std::to_string(k)};
                return ep::scan_piece_bytes(piece, {}, inside, opening, {},
                                            std::span<const std::string_view>(&data, 1));
            },
            data.size()));
    }
    const std::uint64_t offset = whole.size();
    ep::PartialProfile merged;
    std::vector<std::uint64_t> reported;
    const auto error = queue.finish(
        merged, [&](std::uint64_t done, std::uint64_t) { reported.push_back(done); }, offset);
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_EQ(reported.back(), offset);
    if (*c.error) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->reason, c.error);
        return;
    }
    ASSERT_FALSE(error) << error->reason;
    EXPECT_EQ(seal_of(std::move(merged)), seal_of(ep::test_support::scan_whole({}, whole)));
}

INSTANTIATE_TEST_SUITE_P(Jobs, QueueOrder, ::testing::ValuesIn(kOrders),
                         [](const auto& info) { return std::string(info.param.name); });

struct LimitCase {
    const char* name;
    unsigned threads;
    std::size_t limit;
};

class QueueLimit : public ::testing::TestWithParam<LimitCase> {};

const LimitCase kLimits[] = {
    {"one_thread_one_in_flight", 1, 1},
    {"two_threads_three_in_flight", 2, 3},
    {"four_threads_two_in_flight", 4, 2},
};

// Once push(k) returns, job k - limit has ended: never more than `limit` jobs in flight.
TEST_P(QueueLimit, PushWaitsForTheOldest) {
    const LimitCase& c = GetParam();
    constexpr std::size_t kJobs = 12;
    std::vector<std::atomic<bool>> ended(kJobs);
    std::atomic<std::size_t> running{0}, most_running{0};
    ep::WorkQueue queue(c.threads, c.limit, {});
    for (std::size_t k = 0; k < kJobs; ++k) {
        ASSERT_TRUE(queue.push(
            [&, k](std::string&, const std::atomic<bool>&) -> ep::Result<ep::PieceScan> {
                const std::size_t now = ++running;
                std::size_t most = most_running;
                while (now > most && !most_running.compare_exchange_weak(most, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(k % 3 * 5));
                --running;
                ended[k] = true;
                return ep::PieceScan{};
            },
            1));
        if (k >= c.limit) {
            EXPECT_TRUE(ended[k - c.limit]) << "job " << k - c.limit;
        }
    }
    ep::PartialProfile merged;
    EXPECT_FALSE(queue.finish(merged));
    EXPECT_LE(most_running, std::min<std::size_t>(c.threads, c.limit));
}

INSTANTIATE_TEST_SUITE_P(Limits, QueueLimit, ::testing::ValuesIn(kLimits),
                         [](const auto& info) { return std::string(info.param.name); });

struct StopCase {
    const char* name;
    std::size_t limit;
    std::size_t jobs;
    int asks_before_stop;  // the cancel answers false this many times first
};

class QueueStop : public ::testing::TestWithParam<StopCase> {};

const StopCase kStops[] = {
    {"stopped_while_pushing", 2, 8, 0},
    {"stopped_while_finishing", 0, 4, 2},
};

// Jobs that would run until stopped: the stop reaches them, pushes end and finish says so.
TEST_P(QueueStop, EndsRunningJobs) {
    const StopCase& c = GetParam();
    int asks = 0;
    std::atomic<int> ended_by_stop{0};
    ep::WorkQueue queue(2, c.limit, [&] { return asks++ >= c.asks_before_stop; });
    std::size_t pushed = 0;
    for (; pushed < c.jobs; ++pushed) {
        const bool taken = queue.push(
            [&](std::string&, const std::atomic<bool>& stop) -> ep::Result<ep::PieceScan> {
                const auto until = std::chrono::steady_clock::now() + 2s;
                while (!stop && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(1ms);
                if (stop) ++ended_by_stop;
                return ep::PieceScan{};
            },
            1);
        if (!taken) break;
    }
    if (c.limit != 0) {
        EXPECT_LT(pushed, c.jobs);
    }
    ep::PartialProfile merged;
    const auto error = queue.finish(merged);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->reason, ep::kCancelled);
    EXPECT_TRUE(queue.stopped());
    EXPECT_GE(ended_by_stop, 1);
}

INSTANTIATE_TEST_SUITE_P(Stops, QueueStop, ::testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WorkQueue, AJobThatThrowsRethrowsOnTheCallingThread) {
    ep::WorkQueue queue(2, 0, {});
    queue.push(
        [](std::string&, const std::atomic<bool>&) -> ep::Result<ep::PieceScan> {
            throw std::bad_alloc();
        },
        1);
    queue.push(
        [](std::string&, const std::atomic<bool>&) -> ep::Result<ep::PieceScan> {
            return ep::PieceScan{};
        },
        1);
    ep::PartialProfile merged;
    EXPECT_THROW(queue.finish(merged), std::bad_alloc);
}

struct TextCase {
    const char* name;
    std::string text;
    std::size_t feed;  // bytes appended to the buffer between flushes
    unsigned threads;
};

class TextPieces : public ::testing::TestWithParam<TextCase> {};

const TextCase kTexts[] = {
    {"many_pieces_quotes_across_cuts", export_text(40, 8, 20000), 7777, 2},
    {"one_thread", export_text(40, 8, 8000), 100000, 1},
    // The opening outgrows a block twice before it holds the first row.
    {"header_of_three_blocks", export_text(1500, 2100, 40), 65536, 2},
    {"under_a_block", export_text(3, 4, 10), 5, 2},
    {"fed_whole", export_text(10, 6, 30000), 0, 3},
};

// Text handed in as a producer renders it profiles as the one scan, digest included.
TEST_P(TextPieces, ProfileAsTheOneScan) {
    const TextCase& c = GetParam();
    ep::TextPieces pieces({}, "f.csv", c.threads);
    const std::size_t step = c.feed != 0 ? c.feed : c.text.size();
    for (std::size_t at = 0; at < c.text.size(); at += step) {
        pieces.buffer().append(c.text, at, step);
        pieces.flush();
    }
    auto partial = pieces.finish();
    ASSERT_TRUE(partial) << partial.error().reason;
    EXPECT_EQ(seal_of(std::move(partial).value()),
              seal_of(ep::test_support::scan_whole({}, c.text)));
}

INSTANTIATE_TEST_SUITE_P(Texts, TextPieces, ::testing::ValuesIn(kTexts),
                         [](const auto& info) { return std::string(info.param.name); });

struct TextErrorCase {
    const char* name;
    std::string text;
};

class TextPiecesError : public ::testing::TestWithParam<TextErrorCase> {};

const TextErrorCase kTextErrors[] = {
    {"empty", ""},
    {"header_only", "timestamp,a\n"},
    {"nul_in_a_later_piece",
     export_text(20, 6, 20000) + std::string("2024-01-01T00:00:00Z,\0\n", 24)},
};

// A refusal names the label and says what the one scan says.
TEST_P(TextPiecesError, SaysWhatTheOneScanSays) {
    const TextErrorCase& c = GetParam();
    ep::ExportScanner one({}, "f.csv");
    one.feed(c.text);
    auto expected = one.finish();
    ep::TextPieces pieces({}, "f.csv", 2);
    pieces.buffer() = c.text;
    pieces.flush();
    auto got = pieces.finish();
    ASSERT_EQ(bool(got), bool(expected));
    if (!expected) {
        EXPECT_EQ(got.error().reason, expected.error().reason);
        EXPECT_EQ(got.error().file, expected.error().file);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, TextPiecesError, ::testing::ValuesIn(kTextErrors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextPieces, ACancelStopsTheProducer) {
    const std::string text = export_text(40, 8, 20000);
    int asks = 0;
    ep::TextPieces pieces({}, "f.csv", 2, [&] { return ++asks > 1; });
    for (std::size_t at = 0; at < text.size() && !pieces.stopped(); at += 4096) {
        pieces.buffer().append(text, at, 4096);
        pieces.flush();
        std::this_thread::sleep_for(1ms);  // lets the 50 ms between asks pass
    }
    EXPECT_TRUE(pieces.stopped());
    auto got = pieces.finish();
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().reason, ep::kCancelled);
    EXPECT_EQ(got.error().file, "f.csv");
}

}  // namespace
