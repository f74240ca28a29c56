/* A PURCHASE.EXE that a user of the share put in the application's place,
 * for the system tier. Started for the lock-down request, it tries what a
 * user of the share may not do (write the server's configuration, read its
 * password hashes, read a folder that the share's group has no rights to),
 * records in ATTACKS.LOG in its current folder (the shared root) what each
 * attempt met and which rights its process holds, and then answers the
 * lock-down request as the application does, so that the run goes on. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static FILE *report;

static void Record(const char *attempt, BOOL succeeded) {
  fprintf(report, "%s: %s\n", attempt, succeeded ? "SUCCEEDED" : "refused");
}

static BOOL ReadsSomething(const char *path) {
  char buffer[64];
  DWORD got = 0;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  BOOL read = ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0;
  CloseHandle(file);
  return read;
}

static BOOL Writes(const char *path) {
  DWORD written = 0;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  BOOL wrote = WriteFile(file, "ROOT=/\n", 7, &written, NULL) && written == 7;
  CloseHandle(file);
  return wrote;
}

static BOOL Lists(const char *pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(search);
  return TRUE;
}

/* The lines of the process's status that name its account and capabilities
 * (wine's drive Z: is the server's /). */
static void RecordRights(void) {
  char line[256];
  FILE *status = fopen("Z:\\proc\\self\\status", "r");
  if (!status) return;
  while (fgets(line, sizeof line, status)) {
    if (!strncmp(line, "Uid:", 4) || !strncmp(line, "Gid:", 4) || !strncmp(line, "Cap", 3)) {
      fputs(line, report);
    }
  }
  fclose(status);
}

int main(void) {
  report = fopen("ATTACKS.LOG", "a");
  if (!report) return 1;
  Record("write /etc/varnolet/planted.conf", Writes("Z:\\etc\\varnolet\\planted.conf"));
  Record("read /etc/shadow", ReadsSomething("Z:\\etc\\shadow"));
  Record("list /srv/private", Lists("Z:\\srv\\private\\*"));
  Record("read /srv/private/secret.txt", ReadsSomething("Z:\\srv\\private\\secret.txt"));
  RecordRights();
  fclose(report);
  if (strstr(GetCommandLineA(), ",LOCKDOWN,")) {
    HANDLE flag = CreateFileA("LOCKDOWN.SYS", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (flag != INVALID_HANDLE_VALUE) CloseHandle(flag);
  }
  return 0;
}
