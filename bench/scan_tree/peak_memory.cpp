// peak_memory COMMAND [ARG...]: runs the command, its output left as it is, and prints the
// largest resident set it reached, in KiB, once it has ended. For machines without GNU time.
// Exit status: the command's, or 127 when it could not be started.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_memory COMMAND [ARG...]\n");
    return 127;
  }
  const pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    // The command's output would mix with the figure this prints on standard output.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) return 127;
  std::printf("%ld\n", usage.ru_maxrss);  // Linux counts it in KiB
  return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
