// A file path in the test temp directory that this test process alone uses: the plain and the
// sanitizer builds' tests, or two checkouts' tests, may run at once and share that directory.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

inline std::string temp_path(std::string_view name) {
    return ::testing::TempDir() + "qce_" + std::to_string(::getpid()) + "_" + std::string(name);
}
