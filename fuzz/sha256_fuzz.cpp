// SHA-256 and the canonical hasher against OpenSSL's SHA-256: the input is fed in chunks of
// random size (so every block boundary and short-piece path is crossed) on both block engines,
// and cut into labelled fields that are framed by hand for the reference; messages of one length
// hashed together against each hashed alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"
#include "reference.hpp"

namespace hashing = qorv_chemical_engineering_edge::hashing;
using qorv_fuzz::check;

namespace {

void check_engine(std::string_view message, std::uint64_t seed) {
    const auto expected = qorv_fuzz::openssl_sha256(message);

    // The whole message in chunks: mostly short, sometimes long, sometimes empty.
    qorv_fuzz::SplitMix rng{seed};
    hashing::Sha256 sha;
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t limit = rng.below(4) == 0 ? 300 : 70;
        const std::size_t n = std::min(rng.below(limit + 1), message.size() - at);
        sha.update(message.data() + at, n);
        at += n;
    }
    const auto chunked = sha.finish();
    check(std::equal(chunked.begin(), chunked.end(), expected.begin()), "chunked SHA-256");
    const auto whole = hashing::sha256(message);
    check(std::equal(whole.begin(), whole.end(), expected.begin()), "one-shot SHA-256");

    // The message cut into 1 to 7 messages of one length, hashed together (three streams, then
    // pairs): each digest equals that of the message alone.
    const std::size_t count = 1 + rng.below(7);
    const std::size_t size = message.size() / count;
    const std::uint8_t* at[7];
    hashing::Sha256Digest together[7];
    for (std::size_t i = 0; i < count; ++i)
        at[i] = reinterpret_cast<const std::uint8_t*>(message.data()) + i * size;
    hashing::sha256_same_length(at, count, size, together);
    for (std::size_t i = 0; i < count; ++i) {
        const auto alone = hashing::sha256(message.substr(i * size, size));
        check(together[i] == alone, "same-length messages hashed together");
    }

    // The message cut into fields: a label of up to 70 bytes and a text of up to 200, or a count.
    hashing::CanonicalHasher hasher;
    qorv_fuzz::FramedStream framed;
    std::string_view rest = message;
    while (!rest.empty()) {
        const std::size_t label_size = std::min(rng.below(71), rest.size());
        const std::string_view label = rest.substr(0, label_size);
        rest.remove_prefix(label_size);
        if (rng.below(4) == 0) {
            const std::uint64_t count = rng.next() >> rng.below(64);
            hasher.field(label, count);
            framed.count(label, count);
        } else {
            const std::size_t value_size = std::min(rng.below(201), rest.size());
            hasher.field(label, rest.substr(0, value_size));
            framed.field(label, rest.substr(0, value_size));
            rest.remove_prefix(value_size);
        }
    }
    hashing::CanonicalHasher copy = hasher;
    const std::string seal = std::move(hasher).finalize_hex();
    check(seal == framed.seal(), "canonical hasher against the framed stream");
    check(hashing::to_hex(std::move(copy).finalize_digest()) == seal, "digest and hex agree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first eight bytes choose the chunking; the rest is the message.
    std::uint64_t seed = 0;
    const std::size_t seed_size = std::min<std::size_t>(size, 8);
    for (std::size_t i = 0; i < seed_size; ++i) seed = seed << 8 | data[i];
    const std::string_view message(reinterpret_cast<const char*>(data) + seed_size,
                                   size - seed_size);

    hashing::pin_sha256_engine(hashing::Sha256Engine::Portable);
    check_engine(message, seed);
    if (hashing::sha256_cpu_extensions_available()) {
        hashing::pin_sha256_engine(hashing::Sha256Engine::CpuExtensions);
        check(hashing::sha256_engine() == hashing::Sha256Engine::CpuExtensions, "engine pinned");
        check_engine(message, seed);
    }
    return 0;
}
