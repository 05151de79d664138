/* LD_PRELOAD shim: rename() fails with EACCES when its source path ends
 * with $TL_FAIL_RENAME_FROM or its target ends with $TL_FAIL_RENAME_TO, so
 * a test can make one particular rename of the self-update fail for real. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int endsWith(const char* s, const char* env) {
  const char* suffix = getenv(env);
  if (!suffix || !*suffix || !s) return 0;
  size_t n = strlen(s), m = strlen(suffix);
  return n >= m && strcmp(s + n - m, suffix) == 0;
}

int rename(const char* from, const char* to) {
  if (endsWith(from, "TL_FAIL_RENAME_FROM") || endsWith(to, "TL_FAIL_RENAME_TO")) {
    errno = EACCES;
    return -1;
  }
  int (*real)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  return real(from, to);
}
