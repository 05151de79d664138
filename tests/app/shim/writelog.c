/* A preloaded shim that reports every attempt to change the file system.
 *
 * Loaded with LD_PRELOAD into a program that promises to write nothing, it
 * sits in front of the C library's opens (for writing, creating or
 * truncating), fopen with a writing mode, rename, unlink, mkdir, truncate,
 * link and symlink, and writes one line "tl-write: <call> <path>" to
 * standard error for each, then lets the call through. A test reads the
 * lines back from the program's standard error.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static void report(const char* call, const char* path) {
  char line[4200];
  int n = snprintf(line, sizeof line, "tl-write: %s %s\n", call, path ? path : "(null)");
  if (n > (int)sizeof line - 1) n = (int)sizeof line - 1;
  if (n > 0) (void)!write(2, line, (size_t)n);
}

static int writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }
static int writesMode(const char* mode) { return mode && strpbrk(mode, "wa+") != NULL; }

#define REAL(name, ret, args) \
  static ret(*real_##name) args; \
  if (!real_##name) real_##name = (ret(*) args)dlsym(RTLD_NEXT, #name)

#define OPEN_LIKE(name)                                          \
  int name(const char* path, int flags, ...) {                   \
    REAL(name, int, (const char*, int, ...));                    \
    mode_t mode = 0;                                             \
    if (flags & (O_CREAT | O_TMPFILE)) {                         \
      va_list ap;                                                \
      va_start(ap, flags);                                       \
      mode = va_arg(ap, mode_t);                                 \
      va_end(ap);                                                \
    }                                                            \
    if (writes(flags)) report(#name, path);                      \
    return real_##name(path, flags, mode);                       \
  }
OPEN_LIKE(open)
OPEN_LIKE(open64)

#define OPENAT_LIKE(name)                                        \
  int name(int dir, const char* path, int flags, ...) {          \
    REAL(name, int, (int, const char*, int, ...));               \
    mode_t mode = 0;                                             \
    if (flags & (O_CREAT | O_TMPFILE)) {                         \
      va_list ap;                                                \
      va_start(ap, flags);                                       \
      mode = va_arg(ap, mode_t);                                 \
      va_end(ap);                                                \
    }                                                            \
    if (writes(flags)) report(#name, path);                      \
    return real_##name(dir, path, flags, mode);                  \
  }
OPENAT_LIKE(openat)
OPENAT_LIKE(openat64)

int creat(const char* path, mode_t mode) {
  REAL(creat, int, (const char*, mode_t));
  report("creat", path);
  return real_creat(path, mode);
}

#define FOPEN_LIKE(name)                                         \
  FILE* name(const char* path, const char* mode) {               \
    REAL(name, FILE*, (const char*, const char*));               \
    if (writesMode(mode)) report(#name, path);                   \
    return real_##name(path, mode);                              \
  }
FOPEN_LIKE(fopen)
FOPEN_LIKE(fopen64)

int rename(const char* from, const char* to) {
  REAL(rename, int, (const char*, const char*));
  report("rename", to);
  return real_rename(from, to);
}
int renameat(int fd1, const char* from, int fd2, const char* to) {
  REAL(renameat, int, (int, const char*, int, const char*));
  report("renameat", to);
  return real_renameat(fd1, from, fd2, to);
}
int unlink(const char* path) {
  REAL(unlink, int, (const char*));
  report("unlink", path);
  return real_unlink(path);
}
int unlinkat(int fd, const char* path, int flags) {
  REAL(unlinkat, int, (int, const char*, int));
  report("unlinkat", path);
  return real_unlinkat(fd, path, flags);
}
int remove(const char* path) {
  REAL(remove, int, (const char*));
  report("remove", path);
  return real_remove(path);
}
int mkdir(const char* path, mode_t mode) {
  REAL(mkdir, int, (const char*, mode_t));
  report("mkdir", path);
  return real_mkdir(path, mode);
}
int truncate(const char* path, off_t len) {
  REAL(truncate, int, (const char*, off_t));
  report("truncate", path);
  return real_truncate(path, len);
}
int link(const char* from, const char* to) {
  REAL(link, int, (const char*, const char*));
  report("link", to);
  return real_link(from, to);
}
int symlink(const char* from, const char* to) {
  REAL(symlink, int, (const char*, const char*));
  report("symlink", to);
  return real_symlink(from, to);
}
