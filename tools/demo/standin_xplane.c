/* A stand-in for the simulator's executable in the demo X-Plane folder.
 *
 * The launcher counts X-Plane as running when some process's executable lies
 * inside the X-Plane folder, and as started when Log.txt is rewritten. A
 * shell script cannot pass the first test (its executable is the shell), so
 * the demo compiles this small program and places it as "X-Plane-x86_64".
 *
 * What it does, in order: finds its folder from /proc/self/exe; rewrites
 * Log.txt there with a few lines on what it sees (plugin, suppressed
 * scenery); writes its process id to "standin.pid"; then stays up until it
 * gets SIGTERM, SIGINT or SIGHUP, until "standin.pid" is removed, or until
 * the process named by TAXILUME_DEMO_PID (the demo script) is gone. On the
 * way out it appends a last line to Log.txt and removes "standin.pid".
 *
 * It never touches scenery or the plugin folder; failures to write its own
 * files end it with status 1 and a line on standard error. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t g_stop = 0;

static void onSignal(int sig) {
  (void)sig;
  g_stop = 1;
}

static int exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

/* First line of a small text file, trailing blanks and line ends removed;
 * empty when the file cannot be read. */
static void firstLine(const char* path, char* out, size_t cap) {
  out[0] = '\0';
  FILE* f = fopen(path, "rb");
  if (!f) return;
  if (fgets(out, (int)cap, f)) {
    size_t n = strlen(out);
    while (n && (out[n - 1] == '\n' || out[n - 1] == '\r' || out[n - 1] == ' ')) out[--n] = '\0';
  }
  fclose(f);
}

/* Counts the rows of the manifest by their "file" keys; the stand-in does not
 * need a JSON parser for a figure it only reports. -1: no manifest. */
static long manifestRows(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return -1;
  size_t cap = 1 << 16, len = 0, got;
  char* buf = malloc(cap + 1);
  while (buf && (got = fread(buf + len, 1, cap - len, f)) > 0) {
    len += got;
    if (len == cap) {
      char* more = realloc(buf, cap * 2 + 1);
      if (!more) break;
      buf = more;
      cap *= 2;
    }
  }
  fclose(f);
  if (!buf) return -1;
  buf[len] = '\0';
  long rows = 0;
  for (char* p = buf; (p = strstr(p, "\"file\"")) != NULL; p += 6) rows++;
  free(buf);
  return rows;
}

static int parentGone(pid_t watched) {
  return watched > 0 && kill(watched, 0) != 0 && errno == ESRCH;
}

int main(void) {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) {
    fputs("stand-in X-Plane: cannot read /proc/self/exe\n", stderr);
    return 1;
  }
  exe[n] = '\0';
  char* cut = strrchr(exe, '/');
  if (!cut) return 1;
  cut[1] = '\0'; /* exe is now the X-Plane folder, ending in "/" */

  char logPath[4200], pidPath[4200], plugin[4200], version[4200], manifest[4200];
  snprintf(logPath, sizeof logPath, "%sLog.txt", exe);
  snprintf(pidPath, sizeof pidPath, "%sstandin.pid", exe);
  snprintf(plugin, sizeof plugin, "%sResources/plugins/Taxilume/lin_x64/Taxilume.xpl", exe);
  snprintf(version, sizeof version, "%sResources/plugins/Taxilume/version.txt", exe);
  snprintf(manifest, sizeof manifest, "%sResources/plugins/Taxilume/orvel_manifest.json", exe);

  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  sigaction(SIGHUP, &sa, NULL);

  FILE* log = fopen(logPath, "w");
  if (!log) {
    fprintf(stderr, "stand-in X-Plane: cannot write %s\n", logPath);
    return 1;
  }
  time_t now = time(NULL);
  char when[64];
  strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime(&now));
  fprintf(log, "Stand-in X-Plane 12 for the Taxilume demo, started %s (pid %ld)\n", when,
          (long)getpid());
  fprintf(log, "Folder: %s\n", exe);
  if (exists(plugin)) {
    char v[256];
    firstLine(version, v, sizeof v);
    fprintf(log, "Plugin: Taxilume %s\n", v[0] ? v : "(version unknown)");
  } else {
    fputs("Plugin: Taxilume is not installed\n", log);
  }
  long rows = manifestRows(manifest);
  if (rows > 0)
    fprintf(log, "Scenery: %ld airport(s) with suppressed lights\n", rows);
  else
    fputs("Scenery: original lights\n", log);
  fputs("Running until closed (SIGTERM, or remove standin.pid).\n", log);
  if (fflush(log) != 0) return 1;

  FILE* pf = fopen(pidPath, "w");
  if (!pf || fprintf(pf, "%ld\n", (long)getpid()) < 0 || fclose(pf) != 0) {
    fprintf(stderr, "stand-in X-Plane: cannot write %s\n", pidPath);
    fclose(log);
    return 1;
  }

  pid_t watched = 0;
  const char* w = getenv("TAXILUME_DEMO_PID");
  if (w && *w) watched = (pid_t)strtol(w, NULL, 10);

  const struct timespec tick = {0, 200 * 1000 * 1000};
  while (!g_stop && exists(pidPath) && !parentGone(watched)) nanosleep(&tick, NULL);

  fputs("Quit.\n", log);
  fclose(log);
  unlink(pidPath);
  return 0;
}
