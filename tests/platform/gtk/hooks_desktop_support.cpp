#include "hooks_desktop_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace zandrel::testing {

using namespace std::chrono_literals;

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  stop();
}

int ChildProcess::waitForExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  pumpUntil(
      [this] {
        if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
        return reaped_;
      },
      limit);
  if (!reaped_) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void ChildProcess::stop() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200 && !reaped_; ++i) {
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
    } else {
      std::this_thread::sleep_for(10ms);
    }
  }
  if (!reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    reaped_ = true;
  }
}

int runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
  ChildProcess child(argv);
  return child.waitForExit(limit);
}

void pumpFor(std::chrono::milliseconds time) {
  pumpUntil([] { return false; }, time);
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(1ms);
  }
  return true;
}

namespace {

bool windowManagerRunning(const std::string& display) {
  Display* connection = XOpenDisplay(display.c_str());
  if (connection == nullptr) return false;
  const Atom check = XInternAtom(connection, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  const bool found =
      XGetWindowProperty(connection, DefaultRootWindow(connection), check, 0, 1, False, XA_WINDOW,
                         &type, &format, &items, &remaining, &data) == Success &&
      items == 1;
  if (data != nullptr) XFree(data);
  XCloseDisplay(connection);
  return found;
}

}  // namespace

PrivateDesktop::PrivateDesktop() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  // Only the write end goes to the server, which writes its display number.
  fcntl(fds[1], F_SETFD, 0);
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                               "1280x1024x24", "-nolisten", "tcp", "-noreset"},
      std::string{});
  close(fds[1]);
  std::string number;
  pollfd readable{fds[0], POLLIN, 0};
  while (poll(&readable, 1, 10000) > 0) {
    char c = 0;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    std::fprintf(stderr, "Xvfb gave no display number\n");
    return;
  }
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);

  windowManager_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"openbox", "--sm-disable"}, "/dev/null");
  for (int i = 0; i < 500 && !ready_; ++i) {
    ready_ = windowManagerRunning(display_);
    if (!ready_) std::this_thread::sleep_for(10ms);
  }
  if (!ready_) std::fprintf(stderr, "no window manager on %s\n", display_.c_str());
}

PrivateDesktop::~PrivateDesktop() {
  windowManager_.reset();
  server_.reset();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct KeyInjector::Connection {
  Display* display = nullptr;
};

KeyInjector::KeyInjector() : connection_(std::make_unique<Connection>()) {
  connection_->display = XOpenDisplay(nullptr);
}

KeyInjector::~KeyInjector() {
  if (connection_->display != nullptr) XCloseDisplay(connection_->display);
}

bool KeyInjector::down(const std::string& keysym) {
  return send(keysym, true);
}
bool KeyInjector::up(const std::string& keysym) {
  return send(keysym, false);
}

bool KeyInjector::send(const std::string& keysym, bool press) {
  Display* display = connection_->display;
  if (display == nullptr) return false;
  const KeySym sym = XStringToKeysym(keysym.c_str());
  const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
  if (code == 0) return false;
  XTestFakeKeyEvent(display, code, press ? True : False, CurrentTime);
  XSync(display, False);
  return true;
}

}  // namespace zandrel::testing
