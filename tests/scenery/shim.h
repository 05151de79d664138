// Running a test again with the failure shim preloaded.
//
// A test that needs a file operation to fail for real starts with
//   if (!tlshim::loaded()) { tlshim::rerun(); return; }
// In the normal run this starts the same test binary, filtered to this one
// test, with the shim in LD_PRELOAD, and passes or fails with it; inside that
// run loaded() is true and the body arms the shim with tlshim::arm(...).
// When the shim library is not there, the test is skipped.
#pragma once

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tlshim {

using ArmFn = int (*)(const char*, const char*, int, long, int);
using LeftFn = int (*)();

inline bool loaded() { return dlsym(RTLD_DEFAULT, "tl_shim_arm") != nullptr; }

// The next `times` calls of op on a path containing sub fail with err, after
// `after` bytes have passed (read/write).
inline void arm(const char* op, const char* sub, int err, long after = 0, int times = 1) {
  auto f = reinterpret_cast<ArmFn>(dlsym(RTLD_DEFAULT, "tl_shim_arm"));
  ASSERT_NE(f, nullptr);
  f(op, sub, err, after, times);
}
inline void disarm() { arm("", "", 0, 0, 0); }
// Failures still to come: 0 proves the armed failure really happened.
inline int left() {
  auto f = reinterpret_cast<LeftFn>(dlsym(RTLD_DEFAULT, "tl_shim_left"));
  return f ? f() : -1;
}

#define TLSHIM_RERUN()                     \
  do {                                     \
    if (!tlshim::loaded()) {               \
      tlshim::rerun();                     \
      return;                              \
    }                                      \
  } while (0)

inline void rerun() {
#ifndef TL_FAILSHIM
  GTEST_SKIP() << "failure shim not built";
#else
  if (access(TL_FAILSHIM, R_OK) != 0) GTEST_SKIP() << "failure shim missing: " << TL_FAILSHIM;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("LD_PRELOAD", TL_FAILSHIM, 1);
    const char* asan = getenv("ASAN_OPTIONS");
    std::string opts = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", opts.c_str(), 1);
    execl("/proc/self/exe", "scenery_tests", filter.c_str(), "--gtest_brief=1", (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the run under the shim crashed";
  ASSERT_NE(WEXITSTATUS(status), 127) << "could not start the run under the shim";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the run under the shim failed (its output is above)";
#endif
}

}  // namespace tlshim
