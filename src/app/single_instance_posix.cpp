#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/single_instance.h"
#include "app/single_instance_x11.h"

namespace zandrel {
namespace {

// The lock lives as long as its open file: the kernel drops it when the
// process ends in any way, so a crashed program never blocks the next start.
class LockFileClaim final : public InstanceClaim {
 public:
  explicit LockFileClaim(int fd) : fd_(fd) {}
  ~LockFileClaim() override { ::close(fd_); }
  LockFileClaim(const LockFileClaim&) = delete;
  LockFileClaim& operator=(const LockFileClaim&) = delete;

 private:
  int fd_;
};

class UncheckedClaim final : public InstanceClaim {};

constexpr std::chrono::milliseconds kWindowWait{3000};

pid_t readHolder(int fd) {
  char buffer[32] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof(buffer) - 1, 0);
  if (n <= 0) return 0;
  return static_cast<pid_t>(std::strtol(buffer, nullptr, 10));
}

// Without a runtime directory (a session started by hand, su, cron), the
// lock goes into a directory of the user's own under the temporary
// directory. Only one that is really the user's and closed to everyone else
// is used: a directory someone else made there, or opened up, could let them
// hold the lock and keep the program from starting. None: unchecked.
std::optional<std::string> privateTemporaryDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string directory = base != nullptr && *base == '/' ? base : "/tmp";
  directory += "/zandrel-" + std::to_string(::getuid());
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  struct stat status {};
  if (::lstat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
    return std::nullopt;
  }
  return directory;
}

int openLock(const std::string& directory) {
  const std::string path = directory + "/zandrel.lock";
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

std::unique_ptr<InstanceClaim> claimSingleInstance() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  int fd = runtime != nullptr && *runtime != '\0' ? openLock(runtime) : -1;
  if (fd < 0) {
    if (const std::optional<std::string> directory = privateTemporaryDirectory())
      fd = openLock(*directory);
  }
  if (fd < 0) return std::make_unique<UncheckedClaim>();
  int locked = 0;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const bool held = errno == EWOULDBLOCK;
    const pid_t holder = held ? readHolder(fd) : 0;
    ::close(fd);
    if (!held) return std::make_unique<UncheckedClaim>();
    if (holder > 0) activateWindowOfProcess(holder, kWindowWait);
    return nullptr;
  }
  // The holder's process id, for the next start to find its window by.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // Still the only instance; a second start just cannot bring it forward.
  }
  return std::make_unique<LockFileClaim>(fd);
}

}  // namespace zandrel
