/* The floor: ZEBCmd's -ping MaxTry TryInterval and -dump FILE with nothing else, through
 * floorcli.c, or through the stand-in's library when built with -DWITH_ZEBCLI. */
#include <errno.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <time.h>

#ifdef WITH_ZEBCLI
#include "zebcli/zebcli.h"
static int versions(void) {
  char server[64], protocol[16];
  return ZEBC_Init() ? -1 : ZEBC_GetVersions(server, sizeof server, protocol, sizeof protocol);
}
static int dump(const char* file) {
  return ZEBC_Init() ? -1 : ZEBC_Adm_Dump("admin", "mot47vek,raz;", file);
}
#else
int floor_request(int op, const char* const* fields, int count);
static int versions(void) {
  return floor_request(1, NULL, 0);
}
static int dump(const char* file) {
  const char* fields[] = {"admin", "mot47vek,raz;", file};
  return floor_request(4, fields, 3);
}
#endif

/* The tool's pause: 1 ns timer slack, absolute deadline. */
static void pause_ms(long ms) {
  if (ms <= 0) {
    sched_yield();
    return;
  }
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += ms % 1000 * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) deadline.tv_sec += 1, deadline.tv_nsec -= 1000000000L;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, NULL) == EINTR) {
  }
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "-dump") == 0) return dump(argv[2]) == 0 ? 0 : 2;
  if (argc != 4 || strcmp(argv[1], "-ping") != 0) return 2;
  int tries = atoi(argv[2]);
  for (int i = 0; i < tries; ++i) {
    if (i > 0) pause_ms(atol(argv[3]));
    if (versions() == 0) return 1;
  }
  return 0;
}
