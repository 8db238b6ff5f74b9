/* spawn ROUNDS CMD... [-- CMD...]...: runs every command once per round, the order rotating
 * each round so that load drift hits all alike, stdio on /dev/null. Prints one line per run:
 * round, command index, wall ns, peak RSS KiB, exit status (-1 if killed). Built static: a
 * spawned child's peak RSS starts at its parent's, which must stay below any child's. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

int main(int argc, char** argv) {
  char** commands[32];
  int count = 0;
  if (argc < 3) return 2;
  commands[count++] = argv + 2;
  for (int i = 2; i < argc; ++i)
    if (strcmp(argv[i], "--") == 0) {
      if (count == 32) return 2;
      argv[i] = NULL;
      commands[count++] = argv + i + 1;
    }
  posix_spawn_file_actions_t null_stdio;
  posix_spawn_file_actions_init(&null_stdio);
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_adddup2(&null_stdio, null, fd);
  int rounds = atoi(argv[1]);
  for (int round = 0; round < rounds; ++round)
    for (int k = 0; k < count; ++k) {
      int c = (round + k) % count, status;
      struct timespec start, end;
      struct rusage usage;
      pid_t pid;
      clock_gettime(CLOCK_MONOTONIC, &start);
      if (posix_spawn(&pid, commands[c][0], &null_stdio, NULL, commands[c], environ) != 0 ||
          wait4(pid, &status, 0, &usage) != pid)
        return 1;
      clock_gettime(CLOCK_MONOTONIC, &end);
      printf("%d %d %lld %ld %d\n", round, c,
             (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec),
             usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
  return 0;
}
