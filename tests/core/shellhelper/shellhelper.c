/* A program for the shell tests to start: writes one line per argument
   ("arg:" and the text) and its working folder ("cwd:" and the path) into
   "shellhelper.txt" in its working folder. The file appears whole: it is
   written under another name and renamed. */
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  char folder[4096];
  FILE* out = fopen("shellhelper.tmp", "w");
  if (out == NULL) return 1;
  for (int i = 1; i < argc; ++i) fprintf(out, "arg:%s\n", argv[i]);
  fprintf(out, "cwd:%s\n", getcwd(folder, sizeof folder) != NULL ? folder : "?");
  if (fclose(out) != 0) return 1;
  return rename("shellhelper.tmp", "shellhelper.txt") == 0 ? 0 : 1;
}
