#include "server_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "contract.h"
#include "status.h"

namespace zeb::server {
namespace {

using Clock = std::chrono::steady_clock;

// A peer gets this long to send its request and read the answer.
constexpr std::chrono::seconds kConnectionDeadline{5};
constexpr std::size_t kMaxConnections = 256;
// Out of descriptors, the listener stays readable; accepting pauses this long instead of
// poll() waking at once for ever.
constexpr std::chrono::milliseconds kAcceptPause{100};
// Lines that stalled output still holds get this long to leave before the server exits.
constexpr std::chrono::milliseconds kJournalDrain{1000};

int g_signal_pipe[2] = {-1, -1};

// Self-pipe: poll() sees the signal even if it arrives just before the call.
void on_signal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

bool make_non_blocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
         fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

bool install_signal_handlers() {
  if (pipe(g_signal_pipe) != 0 || !make_non_blocking(g_signal_pipe[0]) ||
      !make_non_blocking(g_signal_pipe[1])) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

int open_listener(std::uint16_t port, std::uint16_t* bound_port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!make_non_blocking(fd) || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *bound_port = ntohs(address.sin_port);
  return fd;
}

struct Connection {
  int fd;
  Clock::time_point deadline;
  std::string received;
  std::string answer;
  std::size_t sent = 0;
  bool answered = false;
  bool done = false;
};

// No room for another connection: the client is told that the server is busy, whatever it
// asks. A few bytes into a new connection's empty send buffer leave at once.
void turn_away(int fd) {
  static const std::string kBusyFrame = [] {
    protocol::Answer answer;
    answer.status = status::kBusy;
    std::string frame;
    protocol::encode_answer(protocol::Op::kStop, answer, &frame);
    return frame;
  }();
  [[maybe_unused]] ssize_t ignored =
      send(fd, kBusyFrame.data(), kBusyFrame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  close(fd);
}

// A client whose side of the connection is already closed has stopped waiting for the answer.
bool peer_has_gone(int fd) {
  char byte;
  ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno == ECONNRESET);
}

class Loop {
 public:
  Loop(int listener, Service* service, Journal* journal)
      : listener_(listener), service_(service), journal_(journal) {}
  int run();

 private:
  // Where poll() reports on the signal pipe, the listener and the journal; the connections
  // follow in order.
  static constexpr std::size_t kSignalEntry = 0;
  static constexpr std::size_t kListenerEntry = 1;
  static constexpr std::size_t kFirstConnectionEntry = 3;

  // What poll() watches this round: the listener only while accepting is not paused.
  void list_descriptors(Clock::time_point now, std::vector<pollfd>* entries) const;
  // Reads from or writes to each connection poll() reported on.
  void serve_ready(const std::vector<pollfd>& entries);
  // Ends the connections past their deadline.
  void end_overdue(Clock::time_point now);
  // Closes and forgets the connections that are done.
  void close_done();
  // Closes every descriptor and gives held journal lines their time to leave.
  void shut_down();
  void accept_all();
  void read_from(Connection* connection);
  void write_to(Connection* connection);
  void send_answer(Connection* connection, protocol::Op op, const protocol::Answer& answer);
  void refuse(Connection* connection);
  void stop(Connection* connection);
  int poll_timeout(Clock::time_point now) const;

  int listener_;
  Service* service_;
  Journal* journal_;
  std::vector<Connection> connections_;
  Clock::time_point accept_paused_until_{};
  bool stopped_ = false;
};

int Loop::run() {
  std::vector<pollfd> entries;
  while (!stopped_) {
    // One reading of the clock: a pause that ends between two readings would leave the
    // listener out of the poll with no timeout to bring it back.
    const Clock::time_point round_start = Clock::now();
    list_descriptors(round_start, &entries);
    int ready = poll(entries.data(), entries.size(), poll_timeout(round_start));
    if (ready < 0 && errno != EINTR) {
      std::perror("zebserver: poll");
      return 1;
    }
    if (ready > 0 && entries[kSignalEntry].revents != 0) break;
    // Every round: a pipe the journal waits on to drain wakes poll() only by its timeout.
    journal_->flush_held();
    Clock::time_point now = Clock::now();
    if (ready > 0) serve_ready(entries);
    end_overdue(now);
    close_done();
    if (!stopped_ && ready > 0 && entries[kListenerEntry].revents != 0) accept_all();
  }
  shut_down();
  return 0;
}

void Loop::list_descriptors(Clock::time_point now, std::vector<pollfd>* entries) const {
  const bool accepting = now >= accept_paused_until_;
  entries->assign({{g_signal_pipe[0], POLLIN, 0},
                   {accepting ? listener_ : -1, POLLIN, 0},
                   {journal_->held_descriptor(), POLLOUT, 0}});
  for (const Connection& connection : connections_) {
    entries->push_back(
        {connection.fd, static_cast<short>(connection.answered ? POLLOUT : POLLIN), 0});
  }
}

void Loop::serve_ready(const std::vector<pollfd>& entries) {
  // Entries line up with the connections that existed before this round's accepts.
  for (std::size_t i = 0; i + kFirstConnectionEntry < entries.size() && !stopped_; ++i) {
    Connection& connection = connections_[i];
    if (entries[i + kFirstConnectionEntry].revents == 0) continue;
    if (connection.answered) {
      write_to(&connection);
    } else {
      read_from(&connection);
    }
  }
}

void Loop::end_overdue(Clock::time_point now) {
  for (Connection& connection : connections_) {
    if (connection.done || now < connection.deadline) continue;
    // Bytes without a whole frame: a truncated request worth a journal line.
    if (!connection.answered && !connection.received.empty()) refuse(&connection);
    connection.done = true;
  }
}

void Loop::close_done() {
  for (Connection& connection : connections_) {
    if (!connection.done) continue;
    close(connection.fd);
    // A descriptor is free again: what waits is accepted now, not after the pause.
    accept_paused_until_ = {};
  }
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                    [](const Connection& c) { return c.done; }),
                     connections_.end());
}

void Loop::shut_down() {
  for (const Connection& connection : connections_) close(connection.fd);
  if (listener_ >= 0) close(listener_);
  journal_->drain(kJournalDrain);
}

int Loop::poll_timeout(Clock::time_point now) const {
  const bool paused = now < accept_paused_until_;
  const int journal = journal_->retry_milliseconds();
  if (connections_.empty() && !paused) return journal;
  Clock::time_point first = paused ? accept_paused_until_ : connections_.front().deadline;
  for (const Connection& connection : connections_) first = std::min(first, connection.deadline);
  const int left = static_cast<int>(
      std::max<long long>(std::chrono::ceil<std::chrono::milliseconds>(first - now).count(), 0));
  return journal < 0 ? left : std::min(left, journal);
}

void Loop::accept_all() {
  for (;;) {
    int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        accept_paused_until_ = Clock::now() + kAcceptPause;
      }
      return;
    }
    if (connections_.size() >= kMaxConnections) {
      turn_away(fd);
      continue;
    }
    if (!make_non_blocking(fd)) {
      close(fd);
      continue;
    }
    connections_.push_back({fd, Clock::now() + kConnectionDeadline, {}, {}, 0, false, false});
  }
}

void Loop::read_from(Connection* connection) {
  char chunk[16384];
  for (;;) {
    ssize_t got = recv(connection->fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      // The peer closed (or failed) before a whole frame arrived: journal and answer any
      // partial request, otherwise just drop the connection.
      if (!connection->received.empty()) refuse(connection);
      if (got < 0 || !connection->answered) connection->done = true;
      return;
    }
    connection->received.append(chunk, static_cast<std::size_t>(got));
    std::string_view payload;
    switch (protocol::extract_frame(connection->received, &payload)) {
      case protocol::FrameState::kIncomplete:
        continue;
      case protocol::FrameState::kInvalid:
        refuse(connection);
        return;
      case protocol::FrameState::kComplete:
        break;
    }
    protocol::Request request;
    if (protocol::decode_request(payload, &request) != status::kOk) {
      refuse(connection);
      return;
    }
    if (peer_has_gone(connection->fd)) {
      // Nobody would learn the outcome; -4 is what the client saw.
      journal_->request_line(protocol::op_name(request.op), request.user, request.file,
                             status::kTimeout);
      connection->done = true;
      return;
    }
    protocol::Answer answer = service_->handle_request(request);
    journal_->request_line(protocol::op_name(request.op), request.user, request.file,
                           answer.status);
    if (service_->stop_requested()) {
      stop(connection);
      return;
    }
    send_answer(connection, request.op, answer);
    return;
  }
}

void Loop::send_answer(Connection* connection, protocol::Op op, const protocol::Answer& answer) {
  if (!protocol::encode_answer(op, answer, &connection->answer)) {
    connection->done = true;
    return;
  }
  connection->answered = true;
  write_to(connection);
}

void Loop::refuse(Connection* connection) {
  journal_->request_line("invalid", "", "", status::kProtocolError);
  protocol::Answer answer;
  answer.status = status::kProtocolError;
  send_answer(connection, protocol::Op::kVersions, answer);
}

void Loop::write_to(Connection* connection) {
  while (connection->sent < connection->answer.size()) {
    ssize_t sent = send(connection->fd, connection->answer.data() + connection->sent,
                        connection->answer.size() - connection->sent, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (sent <= 0) break;
    connection->sent += static_cast<std::size_t>(sent);
  }
  connection->done = true;
}

void Loop::stop(Connection* connection) {
  // Closed before answering, so that a client holding the answer finds the port closed.
  close(listener_);
  listener_ = -1;
  // A few bytes into an empty send buffer: they leave at once, no need to poll for them.
  protocol::Answer answer;
  send_answer(connection, protocol::Op::kStop, answer);
  stopped_ = true;
}

}  // namespace

int serve(const Options& options, Service* service, Journal* journal) {
  std::uint16_t port = 0;
  int listener = open_listener(options.port, &port);
  if (listener < 0) {
    std::fprintf(stderr, "zebserver: cannot listen on %s:%u: %s\n", contract::kServerHost,
                 static_cast<unsigned>(options.port), std::strerror(errno));
    return 1;
  }
  if (!install_signal_handlers()) {
    std::perror("zebserver: signal handlers");
    return 1;
  }
  journal->plain(std::string(contract::kListeningOn) + contract::kServerHost + ":" +
                 std::to_string(port));
  return Loop(listener, service, journal).run();
}

}  // namespace zeb::server
