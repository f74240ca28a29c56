/* Stands in for QZBACKUP.EXE behind the task's batch file under 64-bit wine
 * (the 32-bit monitor cannot run on a 64-bit-only host). Like the monitor it
 * is a windowed program that leaves its outcome only where the root marker
 * shows that its current folder is the shared root: its first argument names
 * the status file to write, OK or ERR, and the file holds all its arguments;
 * any other word leaves nothing. It pauses first, so that a batch file that
 * did not wait for it would find nothing. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char **argv) {
  Sleep(1000);
  if (GetFileAttributesA("UTILS\\QZTSTDIR\\QZTSTDIR.CHK") == INVALID_FILE_ATTRIBUTES) return 0;
  const char *outcome = argc > 1 ? argv[1] : "";
  const char *name = strcmp(outcome, "OK") == 0    ? "UTILS\\QZBACKUP\\QZBACKUP.OK"
                     : strcmp(outcome, "ERR") == 0 ? "UTILS\\QZBACKUP\\QZBACKUP.ERR"
                                                   : NULL;
  FILE *file = name ? fopen(name, "wb") : NULL;
  for (int i = 1; file && i < argc; ++i) fprintf(file, i > 1 ? " %s" : "%s", argv[i]);
  if (file) fclose(file);
  return 0;
}
