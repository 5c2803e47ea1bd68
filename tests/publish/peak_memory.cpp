// Runs a program and writes its peak resident memory in KiB into a file:
//   peak_memory RESULT_FILE PROGRAM ARGS...
// A test cannot measure a program it starts itself: the child begins as a copy of the test's
// own (large) memory, and the peak it reports counts that copy. Started from this small
// program, the child's peak is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 125;
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return 126;
  FILE* result = std::fopen(argv[1], "w");
  if (!result) return 126;
  std::fprintf(result, "%ld\n", usage.ru_maxrss);
  std::fclose(result);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
