/* A program for the shell tests to start: writes one line per argument
   ("arg:" and the text) and its working folder ("cwd:" and the path) into
   "shellhelper.txt" in its working folder, and what each descriptor it
   inherited above standard error refers to into "shellhelper.fds". The
   main file appears whole, written under another name and renamed, and
   last. */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static int WriteInheritedDescriptors(void) {
  FILE* out = fopen("shellhelper.fds", "w");
  DIR* folder = opendir("/proc/self/fd");
  if (out == NULL || folder == NULL) return 1;
  const int own = dirfd(folder);
  for (struct dirent* entry; (entry = readdir(folder)) != NULL;) {
    const int fd = atoi(entry->d_name);
    if (fd <= 2 || fd == own || fd == fileno(out)) continue;
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0) continue;
    target[n] = '\0';
    fprintf(out, "fd:%s\n", target);
  }
  closedir(folder);
  return fclose(out) != 0;
}

int main(int argc, char** argv) {
  char folder[4096];
  if (WriteInheritedDescriptors() != 0) return 1;
  FILE* out = fopen("shellhelper.tmp", "w");
  if (out == NULL) return 1;
  for (int i = 1; i < argc; ++i) fprintf(out, "arg:%s\n", argv[i]);
  fprintf(out, "cwd:%s\n", getcwd(folder, sizeof folder) != NULL ? folder : "?");
  if (fclose(out) != 0) return 1;
  return rename("shellhelper.tmp", "shellhelper.txt") == 0 ? 0 : 1;
}
