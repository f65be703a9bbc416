// A fuzz target's check: a broken expectation aborts, so that libFuzzer reports it and keeps
// the input, as of any crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline void Require(bool condition) {
    if (!condition) std::abort();
}
