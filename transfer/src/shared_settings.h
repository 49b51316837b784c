// Settings that every process which has the library loaded shares: they live
// in the image's section "shared", one copy for all of them, and keep their
// values while any process has the library loaded.
#pragma once

#include <atomic>
#include <cstdint>

// Puts a variable into the shared section.  Its initial value is the one the
// first process to load the library sees.
#define SHARED_CELL __attribute__((section("shared"), shared))

// Shared cells are read and written by processes that know nothing of each
// other: they must be plain memory, changed by single atomic instructions.
static_assert(std::atomic<uint32_t>::is_always_lock_free, "shared cells must be plain memory");
static_assert(std::atomic<uint64_t>::is_always_lock_free, "shared cells must be plain memory");

extern std::atomic<uint32_t> delayMs;
extern std::atomic<uint32_t> instanceIndex;
