#include "qorv_chemical_engineering_edge/sha256.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace {

namespace h = qorv_chemical_engineering_edge::hashing;

// The message of length n is the first n bytes of this pattern; make_sha256_reference_digests.py
// builds the same bytes.
std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 167 + 13) % 256);
    return s;
}

constexpr const char* kReferenceDigests[] = {
#include "sha256_reference_digests.inc"
};
constexpr std::size_t kReferenceMaxLength = std::size(kReferenceDigests) - 1;
static_assert(kReferenceMaxLength >= 300);

std::string hex(const h::Sha256Digest& d) {
    return h::to_hex(d);
}

// Every case runs once per block function; the engine is pinned for the test and restored after.
class Sha256EngineTest : public ::testing::TestWithParam<h::Sha256Engine> {
  protected:
    void SetUp() override {
        previous_ = h::sha256_engine();
        if (GetParam() == h::Sha256Engine::CpuExtensions && !h::sha256_cpu_extensions_available()) {
            GTEST_SKIP() << "this processor lacks the SHA extensions";
        }
        h::pin_sha256_engine(GetParam());
        ASSERT_EQ(h::sha256_engine(), GetParam());
    }
    void TearDown() override { h::pin_sha256_engine(previous_); }

  private:
    h::Sha256Engine previous_ = h::Sha256Engine::Portable;
};

TEST_P(Sha256EngineTest, FipsVectors) {
    struct Case {
        const char* name;
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"one million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(h::sha256(c.message)), c.digest);
    }
}

TEST_P(Sha256EngineTest, EveryLengthMatchesReference) {
    const std::string message = pattern(kReferenceMaxLength);
    for (std::size_t n = 0; n <= kReferenceMaxLength; ++n) {
        SCOPED_TRACE("length " + std::to_string(n));
        EXPECT_EQ(hex(h::sha256(std::string_view(message).substr(0, n))), kReferenceDigests[n]);
    }
}

// Feeding a message in pieces (sizes taken cyclically from a plan, empty pieces included) gives
// the one-shot digest for every length; the pieces leave the buffered block at every fill level
// and hand over unaligned whole-block batches.
TEST_P(Sha256EngineTest, PiecewiseFeedingMatchesReference) {
    // clang-format off
    const std::vector<std::vector<std::size_t>> plans = {
        {1}, {2}, {3}, {7}, {13}, {31}, {63}, {64}, {65}, {127}, {129},
        {0, 5, 0, 59, 1, 129}, {55, 9, 64, 1}, {1, 64, 1, 128}};
    // clang-format on
    const std::string message = pattern(kReferenceMaxLength);
    for (const auto& plan : plans) {
        for (std::size_t n = 0; n <= kReferenceMaxLength; ++n) {
            h::Sha256 sha;
            std::size_t fed = 0;
            for (std::size_t step = 0; fed < n; ++step) {
                const std::size_t piece = std::min(plan[step % plan.size()], n - fed);
                sha.update(message.data() + fed, piece);
                fed += piece;
            }
            ASSERT_EQ(hex(sha.finish()), kReferenceDigests[n])
                << "length " << n << ", plan starting with " << plan.front() << " of "
                << plan.size();
        }
    }
}

// Several messages of one length hashed together (three streams, then pairs) give each one's own
// digest: every count from 1 to 8 (so threes, pairs and a lone last one), lengths on both sides
// of the tail that spills the padding into a second block, and messages that differ in one byte
// only, so a stream that read another's words or state would show.
TEST_P(Sha256EngineTest, SameLengthMessagesMatchOneAtATime) {
    std::uint32_t x = 2463534242u;
    const auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    std::vector<std::size_t> lengths = {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 4096 + 57};
    for (int k = 0; k < 20; ++k) lengths.push_back(next() % 5000);
    for (std::size_t size : lengths) {
        for (std::size_t count = 1; count <= 8; ++count) {
            std::vector<std::string> messages(count, std::string(size, '\0'));
            for (char& c : messages[0]) c = static_cast<char>(next());
            for (std::size_t i = 1; i < count; ++i) {
                messages[i] = messages[0];
                if (size != 0) messages[i][next() % size] ^= static_cast<char>(1 + i);
            }
            std::vector<const std::uint8_t*> at;
            for (const auto& m : messages)
                at.push_back(reinterpret_cast<const std::uint8_t*>(m.data()));
            std::vector<h::Sha256Digest> got(count);
            h::sha256_same_length(at.data(), count, size, got.data());
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(hex(got[i]), hex(h::sha256(messages[i])))
                    << "length " << size << ", message " << i << " of " << count;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha256EngineTest,
                         ::testing::Values(h::Sha256Engine::Portable,
                                           h::Sha256Engine::CpuExtensions),
                         [](const ::testing::TestParamInfo<h::Sha256Engine>& info) {
                             return info.param == h::Sha256Engine::Portable ? "Portable"
                                                                            : "CpuExtensions";
                         });

#if defined(__x86_64__) || defined(__i386__)
// The probe reads the same feature bits the compiler's runtime reads; a wrong leaf or bit shows
// up here rather than as a silently skipped engine.
TEST(Sha256Probe, AgreesWithCompilerFeatureDetection) {
    __builtin_cpu_init();
    const bool expected = __builtin_cpu_supports("sha") && __builtin_cpu_supports("ssse3") &&
                          __builtin_cpu_supports("sse4.1");
    EXPECT_EQ(h::sha256_cpu_extensions_available(), expected);
}
#endif

TEST(Sha256Pin, PinsPortableAndReturnsToTheProbedChoice) {
    const h::Sha256Engine previous = h::sha256_engine();
    const h::Sha256Engine best = h::sha256_cpu_extensions_available()
                                     ? h::Sha256Engine::CpuExtensions
                                     : h::Sha256Engine::Portable;

    h::pin_sha256_engine(h::Sha256Engine::Portable);
    EXPECT_EQ(h::sha256_engine(), h::Sha256Engine::Portable);
    h::pin_sha256_engine(h::Sha256Engine::CpuExtensions);
    EXPECT_EQ(h::sha256_engine(), best);

    h::pin_sha256_engine(previous);
}

}  // namespace
