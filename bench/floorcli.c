/* The least a client library can do for one request: one TCP connection, one frame out, the
 * whole answer in. No timeouts and no name lookup: ZEB_SERVER must be a numeric IPv4 host:port. */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static void put32(unsigned char* p, uint32_t v) {
  p[0] = v >> 24, p[1] = v >> 16, p[2] = v >> 8, p[3] = v;
}

static uint32_t get32(const unsigned char* p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static int transfer(int fd, unsigned char* buf, size_t n, int sending) {
  for (size_t done = 0; done < n;) {
    ssize_t k =
        sending ? send(fd, buf + done, n - done, MSG_NOSIGNAL) : recv(fd, buf + done, n - done, 0);
    if (k <= 0) return -1;
    done += (size_t)k;
  }
  return 0;
}

int floor_request(int op, const char* const* fields, int count) {
  unsigned char frame[1024], answer[1024];
  size_t length = 5;
  frame[4] = (unsigned char)op;
  for (int i = 0; i < count; ++i) {
    size_t n = strlen(fields[i]);
    if (length + 4 + n > sizeof frame) return -2;
    put32(frame + length, (uint32_t)n);
    memcpy(frame + length + 4, fields[i], n);
    length += 4 + n;
  }
  put32(frame, (uint32_t)(length - 4));

  struct sockaddr_in address = {.sin_family = AF_INET};
  const char *server = getenv("ZEB_SERVER"), *colon = server ? strrchr(server, ':') : NULL;
  char host[64] = "";
  if (!colon || colon - server >= (long)sizeof host) return -3;
  address.sin_port = htons((uint16_t)atoi(colon + 1));
  if (inet_pton(AF_INET, strncat(host, server, colon - server), &address.sin_addr) != 1) return -3;

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -3;
  int status = -3;
  if (connect(fd, (struct sockaddr*)&address, sizeof address) == 0) {
    status = -4;
    uint32_t size;
    if (transfer(fd, frame, length, 1) == 0 && transfer(fd, answer, 4, 0) == 0 &&
        (size = get32(answer)) >= 4 && size <= sizeof answer && transfer(fd, answer, size, 0) == 0)
      status = (int32_t)get32(answer);
  }
  close(fd);
  return status;
}
