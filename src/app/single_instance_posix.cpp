#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
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

}  // namespace

std::unique_ptr<InstanceClaim> claimSingleInstance() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return std::make_unique<UncheckedClaim>();
  const std::string path = std::string(runtime) + "/zandrel.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
