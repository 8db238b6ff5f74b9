#include "dump_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "status.h"

namespace zeb::server {
namespace {

// Mode of new dump files: what open(..., 0666) would give, mkstemp alone gives 0600.
mode_t dump_file_mode() {
  static const mode_t mode = [] {
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Search rights are all a folder needs for reaching, creating and renaming a name in it.
// Reading it as well lets a dump sync the rename; without them it is opened for search only.
int open_folder(const std::string& path, bool to_sync) {
  if (to_sync) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
  }
  return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The folder a path names its last component in, opened as open_folder does, and that
// component; -1 for an unusable path or one that names no file ("dir/").
int open_parent(const std::string& path, bool to_sync, std::string* name) {
  if (path.empty() || path.find('\0') != std::string::npos) return -1;
  const std::size_t slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name->empty()) return -1;
  return open_folder(slash == std::string::npos ? "."
                     : slash == 0               ? "/"
                                                : path.substr(0, slash),
                     to_sync);
}

// A new file next to name in folder, with a name of the same length at most once the name
// is too long for the suffix; -1 when none can be created.
int create_temporary(int folder, const std::string& name, std::string* temporary) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string suffix = ".tmp.";
  constexpr std::size_t kRandomLetters = 6;
  long longest = fpathconf(folder, _PC_NAME_MAX);
  if (longest < 0) longest = 255;
  std::size_t keep = name.size();
  if (keep + suffix.size() + kRandomLetters > static_cast<std::size_t>(longest)) {
    if (static_cast<std::size_t>(longest) <= suffix.size() + kRandomLetters) return -1;
    keep = static_cast<std::size_t>(longest) - suffix.size() - kRandomLetters;
  }
  static std::uint64_t state =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(getpid()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = name.substr(0, keep) + suffix;
    for (std::size_t i = 0; i < kRandomLetters; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      temporary->push_back(kLetters[(state >> 33) % (sizeof kLetters - 1)]);
    }
    int fd = openat(folder, temporary->c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::int32_t write_dump_in(int folder, const std::string& name, std::string_view bytes) {
  // Only a regular file is replaced: a device, FIFO, folder or symbolic link stays as it is.
  struct stat existing {};
  const bool exists = fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return status::kCannotWrite;
  if (exists && !S_ISREG(existing.st_mode)) return status::kCannotWrite;
  std::string temporary;
  int fd = create_temporary(folder, name, &temporary);
  if (fd < 0) return status::kCannotWrite;
  if (exists && fchown(fd, existing.st_uid, existing.st_gid) != 0) {
    // Not allowed to give the file away; keeping the group may still be.
    [[maybe_unused]] int ignored = fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
  }
  const mode_t mode = exists ? existing.st_mode & 0777 : dump_file_mode();
  bool written = fchmod(fd, mode) == 0 && write_all(fd, bytes) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    unlinkat(folder, temporary.c_str(), 0);
    return status::kCannotWrite;
  }
  // Makes the rename itself durable; a failure here (a folder opened for search only cannot be
  // synced) does not undo a complete dump.
  fsync(folder);
  return status::kOk;
}

}  // namespace

std::int32_t read_dump_file(const std::string& path, dumpfile::Records* records) {
  // Folder and name opened apart, as a dump does, so that a reload reads any path a dump
  // writes (one of PATH_MAX bytes included).
  std::string name;
  const int folder = open_parent(path, false, &name);
  if (folder < 0) return status::kCannotRead;
  // O_NONBLOCK so that a FIFO given as the file cannot stall the single-threaded server.
  int fd = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  close(folder);
  if (fd < 0) return status::kCannotRead;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return status::kCannotRead;
  }
  std::string bytes;
  std::int32_t result = status::kOk;
  char chunk[65536];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result = status::kCannotRead;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (bytes.size() > dumpfile::kMaxFileSize) {
      result = status::kInvalidDump;
      break;
    }
  }
  close(fd);
  return result == status::kOk ? dumpfile::decode(bytes, records) : result;
}

std::int32_t write_dump_file(const std::string& path, std::string_view bytes) {
  std::string name;
  const int folder = open_parent(path, true, &name);
  if (folder < 0) return status::kCannotWrite;
  std::int32_t result = write_dump_in(folder, name, bytes);
  close(folder);
  return result;
}

}  // namespace zeb::server
