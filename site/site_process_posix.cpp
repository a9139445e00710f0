#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "site_process.h"

namespace zandrel::site {

void keepSocketFromChildProcesses(std::uintptr_t socket) {
  const int descriptor = static_cast<int>(socket);
  const int flags = fcntl(descriptor, F_GETFD);
  if (flags >= 0) fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
}

void raiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::string programFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

void prepareConsole() {}

void holdOwnConsoleWindow() {}

StopRequest::StopRequest() {
  // SIGINT and SIGTERM are taken by sigtimedwait in wait(), never by a
  // handler: blocked before any thread starts, every thread inherits the mask.
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A browser that goes away mid-answer must not end the program.
  signal(SIGPIPE, SIG_IGN);
}

StopRequest::~StopRequest() = default;

StopRequest::Wait StopRequest::wait(std::chrono::milliseconds timeout) {
  const sigset_t signals = stopSignals();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const timespec limit{static_cast<time_t>(seconds.count()),
                       static_cast<long>((timeout - seconds).count() * 1000 * 1000)};
  const int received = sigtimedwait(&signals, nullptr, &limit);
  if (received == SIGINT || received == SIGTERM) return Wait::Stop;
  if (received < 0 && errno != EAGAIN && errno != EINTR) return Wait::Failed;
  return Wait::Timeout;
}

}  // namespace zandrel::site
