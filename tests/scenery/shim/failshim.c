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
 *
 * It also records: tl_shim_record(root, log) appends every file operation
 * on a path under root to the file log (opens, writes with their bytes and
 * the file's time after them, flushes, closes, renames, unlinks, folders
 * made), for a test that replays them to lay out the disk as a crash or a
 * power cut at any of them would leave it. tl_shim_record(NULL, NULL)
 * stops. Records: a header line "K a b c ...\n" followed by the raw bytes
 * it announces (see rec_* below).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
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

/* TL_SHIM_SLOW_RENAME="part:ms" in the environment (read at load, for a
 * program the test starts with the shim preloaded): every rename of a path
 * containing part waits ms first, which holds a child process at a chosen
 * step long enough to stop it there. */
static char g_slowSub[512];
static long g_slowMs;

__attribute__((constructor)) static void read_slow(void) {
  const char* v = getenv("TL_SHIM_SLOW_RENAME");
  const char* colon = v ? strrchr(v, ':') : NULL;
  if (!colon || colon == v || (size_t)(colon - v) >= sizeof g_slowSub) return;
  memcpy(g_slowSub, v, (size_t)(colon - v));
  g_slowSub[colon - v] = '\0';
  g_slowMs = strtol(colon + 1, NULL, 10);
}

/* --- recording ---------------------------------------------------------- */

static char g_root[1024];
static size_t g_rootLen;
static int g_log = -1;
static unsigned char g_rec[MAXFD]; /* fds opened on paths under the root */

static ssize_t raw_write(int fd, const void* buf, size_t n) {
  static ssize_t (*w)(int, const void*, size_t);
  if (!w) w = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  return w(fd, buf, n);
}

static int under(const char* path) { return g_log >= 0 && path && strncmp(path, g_root, g_rootLen) == 0; }

static void rec(const char* head, const void* a, size_t na, const void* b, size_t nb) {
  int saved = errno;
  raw_write(g_log, head, strlen(head));
  if (na) raw_write(g_log, a, na);
  if (nb) raw_write(g_log, b, nb);
  errno = saved;
}

int tl_shim_record(const char* root, const char* logpath) {
  if (g_log >= 0) {
    int (*c)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    c(g_log);
    g_log = -1;
  }
  memset(g_rec, 0, sizeof g_rec);
  if (!root || !logpath) return 0;
  snprintf(g_root, sizeof g_root, "%s", root);
  g_rootLen = strlen(g_root);
  int (*o)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  g_log = o(logpath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return g_log >= 0 ? 0 : -1;
}

static void rec_open(int fd, const char* path, int flags) {
  if (fd < 0 || fd >= MAXFD || !under(path)) return;
  g_rec[fd] = 1;
  struct stat st;
  long long s = 0, ns = 0;
  if (fstat(fd, &st) == 0) {
    s = st.st_mtim.tv_sec;
    ns = st.st_mtim.tv_nsec;
  }
  char head[160];
  snprintf(head, sizeof head, "O %d %d %lld %lld %zu\n", fd, flags, s, ns, strlen(path));
  rec(head, path, strlen(path), NULL, 0);
}

static void rec_write(int fd, const void* buf, ssize_t w) {
  if (g_log < 0 || w <= 0 || fd < 0 || fd >= MAXFD || !g_rec[fd]) return;
  struct stat st;
  long long s = 0, ns = 0;
  if (fstat(fd, &st) == 0) {
    s = st.st_mtim.tv_sec;
    ns = st.st_mtim.tv_nsec;
  }
  long long off = (long long)lseek(fd, 0, SEEK_CUR) - w;
  char head[160];
  snprintf(head, sizeof head, "W %d %lld %zd %lld %lld\n", fd, off, w, s, ns);
  rec(head, buf, (size_t)w, NULL, 0);
}

static void rec_fd(char kind, int fd) {
  if (g_log < 0 || fd < 0 || fd >= MAXFD || !g_rec[fd]) return;
  char head[64];
  snprintf(head, sizeof head, "%c %d\n", kind, fd);
  rec(head, NULL, 0, NULL, 0);
  if (kind == 'C') g_rec[fd] = 0;
}

static void rec_path(char kind, const char* path) {
  if (!under(path)) return;
  char head[64];
  snprintf(head, sizeof head, "%c %zu\n", kind, strlen(path));
  rec(head, path, strlen(path), NULL, 0);
}

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
  rec_open(fd, path, flags);
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
  if (dirfd == AT_FDCWD) rec_open(fd, path, flags);
  return fd;
}

static FILE* do_fopen(FILE* (*real)(const char*, const char*), const char* path, const char* mode) {
  if (armed("open") && matches(path) && strpbrk(mode, "wa+")) {
    fail();
    return NULL;
  }
  FILE* f = real(path, mode);
  if (f) {
    watch(fileno(f), path);
    int flags = strpbrk(mode, "wa+") ? (O_WRONLY | (strchr(mode, 'w') ? O_CREAT | O_TRUNC : O_CREAT)) : O_RDONLY;
    rec_open(fileno(f), path, flags);
  }
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
    rec_write(fd, buf, w);
    return w;
  }
  ssize_t w = real_write(fd, buf, n);
  rec_write(fd, buf, w);
  return w;
}

ssize_t writev(int fd, const struct iovec* iov, int cnt) {
  REAL(writev, ssize_t, (int, const struct iovec*, int));
  if (g_log < 0 || fd < 0 || fd >= MAXFD || !g_rec[fd]) return real_writev(fd, iov, cnt);
  /* Recorded as plain writes, one piece at a time. */
  ssize_t total = 0;
  for (int i = 0; i < cnt; ++i) {
    ssize_t w = write(fd, iov[i].iov_base, iov[i].iov_len);
    if (w < 0) return total ? total : -1;
    total += w;
    if ((size_t)w < iov[i].iov_len) break;
  }
  return total;
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
  int r = real_fsync(fd);
  if (r == 0) rec_fd('S', fd);
  return r;
}

int fdatasync(int fd) {
  REAL(fdatasync, int, (int));
  int r = real_fdatasync(fd);
  if (r == 0) rec_fd('S', fd);
  return r;
}

int close(int fd) {
  REAL(close, int, (int));
  int hit = armed("close") && watched(fd);
  if (fd >= 0 && fd < MAXFD) g_watch[fd] = 0;
  rec_fd('C', fd);
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
  if (g_slowMs > 0 && ((from && strstr(from, g_slowSub)) || (to && strstr(to, g_slowSub)))) {
    struct timespec ts = {g_slowMs / 1000, (g_slowMs % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
  int r = real_rename(from, to);
  if (r == 0 && under(from) && under(to)) {
    char head[96];
    snprintf(head, sizeof head, "R %zu %zu\n", strlen(from), strlen(to));
    rec(head, from, strlen(from), to, strlen(to));
  }
  return r;
}

int unlink(const char* path) {
  REAL(unlink, int, (const char*));
  int r = real_unlink(path);
  if (r == 0) rec_path('U', path);
  return r;
}

int remove(const char* path) {
  REAL(remove, int, (const char*));
  int r = real_remove(path);
  if (r == 0) rec_path('U', path);
  return r;
}

int mkdir(const char* path, mode_t mode) {
  REAL(mkdir, int, (const char*, mode_t));
  int r = real_mkdir(path, mode);
  if (r == 0) rec_path('M', path);
  return r;
}
