/* The floor of an everyday start, as a program of its own for the slow-link
 * benchmark (bench/slowlink_bench.py): the least such a start must do, as
 * launcher_bench's BM_LeastAStartMustDo has it, in plain system calls.
 * Started with the shared root as its current folder, it compares three pairs
 * of file times (a stat of each), copies AXS/ADS.INI into the local folder,
 * sets the two keys of ADS.INI in two read-and-rewrites, writes ADSLOCAL.CFG
 * and starts the local PURCHASE.EXE without waiting for it.
 *
 *   launcher_floor LOCAL_FOLDER WINDOWS_FOLDER
 *
 * LOCAL_FOLDER is the host path of the prepared local folder, with its
 * trailing slash; WINDOWS_FOLDER is the same folder as the launcher names it
 * (for ADSLOCAL.CFG and the application's parameters). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

static const char* local_folder;

/* The host path of a file in the local folder. */
static const char* local(const char* name) {
  static char path[4096];
  snprintf(path, sizeof path, "%s%s", local_folder, name);
  return path;
}

/* Reads a whole small file; -1 when it cannot be read. */
static ssize_t read_all(int fd, char* buffer, size_t size) {
  size_t done = 0;
  for (ssize_t got; done < size && (got = read(fd, buffer + done, size - done)) != 0; done += got) {
    if (got < 0) return -1;
  }
  return (ssize_t)done;
}

static void copy_settings(void) {
  char buffer[65536];
  struct stat facts;
  int from = open("AXS/ADS.INI", O_RDONLY | O_CLOEXEC);
  int to = open(local("ADS.INI"), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ssize_t got = from < 0 || fstat(from, &facts) != 0 ? -1 : read_all(from, buffer, sizeof buffer);
  if (to >= 0 && got > 0 && write(to, buffer, (size_t)got) == got) {
    struct timespec times[2] = {{0, UTIME_OMIT}, facts.st_mtim};
    futimens(to, times);
  }
  if (from >= 0) close(from);
  if (to >= 0) close(to);
}

/* Sets KEY=VALUE in the file's text: the line that holds the key, or a new last line. */
static void set_key(const char* key, const char* value) {
  char text[65536], updated[65536 + 256];
  int fd = open(local("ADS.INI"), O_RDWR | O_CLOEXEC);
  ssize_t size = fd < 0 ? -1 : read_all(fd, text, sizeof text - 1);
  if (size >= 0) {
    text[size] = '\0';
    char* at = strstr(text, key);
    char* end = at ? strstr(at, "\r\n") : NULL;
    int length = at ? snprintf(updated, sizeof updated, "%.*s%s=%s%s", (int)(at - text), text, key,
                               value, end ? end : "")
                    : snprintf(updated, sizeof updated, "%s%s=%s\r\n", text, key, value);
    if (pwrite(fd, updated, (size_t)length, 0) != length || ftruncate(fd, length) != 0) {
      perror("ADS.INI");
    }
  }
  if (fd >= 0) close(fd);
}

static void write_configuration(const char* folder) {
  char text[512];
  int length = snprintf(text, sizeof text,
                        "CONNECTIONS=100\r\nTABLES=150\r\nINDEXES=150\r\nLOCKS=500\r\n"
                        "ERROR_LOG_MAX=250\r\nERROR_ASSERT_LOGS=%s\r\nANSI_CHAR_SET=Engl(Amer)\r\n"
                        "OEM_CHAR_SET=USA\r\nFLUSH_FREQUENCY=0",
                        folder);
  int fd = open(local("ADSLOCAL.CFG"), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    if (write(fd, text, (size_t)length) != length) perror("ADSLOCAL.CFG");
    close(fd);
  }
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  local_folder = argv[1];
  static const char* pairs[][2] = {{"ACE32.DLL", "AXS/ACE32.DLL"},
                                   {"libxl.dll", "XLS/libxl.dll"},
                                   {"PURCHASE.EXE", "PURCHASE.EXE"}};
  struct stat facts;
  for (int i = 0; i < 3; ++i) {
    stat(local(pairs[i][0]), &facts);
    stat(pairs[i][1], &facts);
  }
  copy_settings();
  set_key("MULTITASKING_OFF", "1");
  set_key("ENABLE_BLOCKING", "0");
  write_configuration(argv[2]);
  char* arguments[] = {(char*)"PURCHASE.EXE", (char*)"QZWINIT", argv[2], (char*)"", NULL};
  pid_t child;
  return posix_spawn(&child, local("PURCHASE.EXE"), NULL, NULL, arguments, environ) == 0 ? 0 : 1;
}
