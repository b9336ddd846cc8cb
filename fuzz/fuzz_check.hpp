// A fuzz target's own check: on failure it names the line and aborts, which libFuzzer reports
// as a crash and keeps the input for.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>

inline void check(bool ok, std::source_location at = std::source_location::current()) {
    if (ok) return;
    std::fprintf(stderr, "check failed at line %u\n", static_cast<unsigned>(at.line()));
    std::abort();
}
