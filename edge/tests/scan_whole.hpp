// One scanner over a whole text, for tests that compare pieces, merges and blobs with it.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile::test_support {

// The partial profile of `bytes` scanned at once as "f.csv" (the first range of a file that
// opens with `opening`, when given); a refusal fails the calling test and gives an unused partial.
inline PartialProfile scan_whole(const ProfileOptions& options, std::string_view bytes,
                                 std::string_view opening = {}) {
    ExportScanner s(options, "f.csv", opening);
    s.feed(bytes);
    auto r = s.finish();
    EXPECT_TRUE(r) << (r ? "" : r.error().reason);
    return r ? std::move(r).value() : PartialProfile();
}

}  // namespace qorv_chemical_engineering_edge::export_profile::test_support
