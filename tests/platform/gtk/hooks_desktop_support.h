#pragma once
// A private X desktop for the hooks' desktop tests: an Xvfb server with a
// window manager, child processes that are always stopped, and waiting while
// GTK keeps dispatching.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zandrel::testing {

// A child process, stopped (TERM, then KILL) when this goes away.
class ChildProcess {
 public:
  // stdoutPath: where the child's standard output goes; empty keeps ours.
  // Descriptors without close-on-exec are inherited.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // The exit status once it has ended within `limit` (GTK keeps dispatching
  // meanwhile), -1 otherwise.
  int waitForExit(std::chrono::milliseconds limit);
  void stop();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

// Runs a command to its end while GTK dispatches; its exit status.
int runCommand(const std::vector<std::string>& argv,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// Dispatches GTK's events for the given time, or until `done` holds.
void pumpFor(std::chrono::milliseconds time);
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Xvfb on a free display plus openbox; DISPLAY points at it while it lives.
class PrivateDesktop {
 public:
  PrivateDesktop();
  ~PrivateDesktop();
  PrivateDesktop(const PrivateDesktop&) = delete;
  PrivateDesktop& operator=(const PrivateDesktop&) = delete;

  bool ready() const { return ready_; }
  const std::string& display() const { return display_; }

 private:
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<ChildProcess> windowManager_;
  std::string display_;
  bool ready_ = false;
};

std::string readFile(const std::string& path);

// Presses and releases keys through XTEST by exact keycode: unlike xdotool it
// adds no key of its own for a modifier's keysym (xdotool presses Super_L
// along with Super_R).
class KeyInjector {
 public:
  KeyInjector();
  ~KeyInjector();
  KeyInjector(const KeyInjector&) = delete;
  KeyInjector& operator=(const KeyInjector&) = delete;

  // By keysym name ("Super_R"); false when it has no key in the mapping.
  bool down(const std::string& keysym);
  bool up(const std::string& keysym);

 private:
  bool send(const std::string& keysym, bool press);
  struct Connection;
  std::unique_ptr<Connection> connection_;
};

}  // namespace zandrel::testing
