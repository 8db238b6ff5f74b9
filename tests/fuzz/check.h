#ifndef ZEBCMD_TESTS_CHECK_H
#define ZEBCMD_TESTS_CHECK_H

#include <cstdio>
#include <cstdlib>

// Unlike assert, stays on in optimised builds: a failed check is a finding that libFuzzer
// keeps as a crash input.
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::fuzz_check_failed(#condition, __FILE__, __LINE__))

[[noreturn]] inline void fuzz_check_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

#endif
