/* A preloaded shim that makes chosen file operations fail for real.
 *
 * Tests run as root, so permission bits cannot make a write fail. Loaded
 * with LD_PRELOAD, this library sits in front of the C library's open,
 * fopen, read, write, fsync, close and rename. A test arms it with
 * tl_shim_arm(op, part_of_path, errno, after, times): the next `times`
 * calls of `op` on a path containing part_of_path fail with that errno.
 * For "read" and "write", `after` bytes pass first (so a write can come
 * out short and a read can fail in the middle of a file). The op
 * "rename-lose" removes the destination before failing, like a rename
 * that lost the old file. Unarmed, every call goes straight through.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#define MAXFD 4096

static char g_op[32];
static char g_sub[512];
static int g_err;
static long g_after;
static int g_times;
static long g_passed;     /* bytes let through so far on matching fds */
static unsigned char g_watch[MAXFD];

int tl_shim_arm(const char* op, const char* sub, int err, long after, int times) {
  snprintf(g_op, sizeof g_op, "%s", op ? op : "");
  snprintf(g_sub, sizeof g_sub, "%s", sub ? sub : "");
  g_err = err;
  g_after = after;
  g_times = times;
  g_passed = 0;
  return 0;
}

/* How many armed failures are still to come (0 once they all happened). */
int tl_shim_left(void) { return g_times; }

static int armed(const char* op) { return g_times > 0 && strcmp(g_op, op) == 0; }
static int matches(const char* path) { return path && g_sub[0] && strstr(path, g_sub) != NULL; }
static int fail(void) {
  g_times--;
  errno = g_err;
  return -1;
}
static void watch(int fd, const char* path) {
  if (fd >= 0 && fd < MAXFD) g_watch[fd] = (unsigned char)matches(path);
}
static int watched(int fd) { return fd >= 0 && fd < MAXFD && g_watch[fd]; }

#define REAL(name, ret, args) \
  static ret(*real_##name) args; \
  if (!real_##name) real_##name = (ret(*) args)dlsym(RTLD_NEXT, #name)

static int do_open(const char* name, int (*real)(const char*, int, ...), const char* path, int flags,
                   mode_t mode) {
  (void)name;
  if (armed("open") && matches(path) && (flags & (O_WRONLY | O_RDWR | O_CREAT))) return fail();
  int fd = real(path, flags, mode);
  watch(fd, path);
  return fd;
}

int open(const char* path, int flags, ...) {
  REAL(open, int, (const char*, int, ...));
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  return do_open("open", real_open, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  REAL(open64, int, (const char*, int, ...));
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  return do_open("open64", real_open64, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  REAL(openat, int, (int, const char*, int, ...));
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (armed("open") && matches(path) && (flags & (O_WRONLY | O_RDWR | O_CREAT))) return fail();
  int fd = real_openat(dirfd, path, flags, mode);
  watch(fd, path);
  return fd;
}

static FILE* do_fopen(FILE* (*real)(const char*, const char*), const char* path, const char* mode) {
  if (armed("open") && matches(path) && strpbrk(mode, "wa+")) {
    fail();
    return NULL;
  }
  FILE* f = real(path, mode);
  if (f) watch(fileno(f), path);
  return f;
}

FILE* fopen(const char* path, const char* mode) {
  REAL(fopen, FILE*, (const char*, const char*));
  return do_fopen(real_fopen, path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  REAL(fopen64, FILE*, (const char*, const char*));
  return do_fopen(real_fopen64, path, mode);
}

ssize_t write(int fd, const void* buf, size_t n) {
  REAL(write, ssize_t, (int, const void*, size_t));
  if (armed("write") && watched(fd)) {
    long room = g_after - g_passed;
    if (room <= 0) return fail();
    if ((long)n > room) n = (size_t)room; /* a short write, then the failure */
    ssize_t w = real_write(fd, buf, n);
    if (w > 0) g_passed += w;
    return w;
  }
  return real_write(fd, buf, n);
}

ssize_t read(int fd, void* buf, size_t n) {
  REAL(read, ssize_t, (int, void*, size_t));
  if (armed("read") && watched(fd)) {
    long room = g_after - g_passed;
    if (room <= 0) return fail();
    if ((long)n > room) n = (size_t)room;
    ssize_t r = real_read(fd, buf, n);
    if (r > 0) g_passed += r;
    return r;
  }
  return real_read(fd, buf, n);
}

int fsync(int fd) {
  REAL(fsync, int, (int));
  if (armed("fsync") && watched(fd)) return fail();
  return real_fsync(fd);
}

int close(int fd) {
  REAL(close, int, (int));
  int hit = armed("close") && watched(fd);
  if (fd >= 0 && fd < MAXFD) g_watch[fd] = 0;
  int r = real_close(fd);
  if (hit) return fail();
  return r;
}

int rename(const char* from, const char* to) {
  REAL(rename, int, (const char*, const char*));
  if (armed("rename") && (matches(from) || matches(to))) return fail();
  if (armed("rename-lose") && (matches(from) || matches(to))) {
    unlink(to);
    return fail();
  }
  return real_rename(from, to);
}
