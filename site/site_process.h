#pragma once
// What zandrel-site needs of its operating system as a program: its
// arguments, where it lies, and being asked to stop (Ctrl+C, SIGTERM).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zandrel::site {

// The arguments after the program name, as UTF-8 (on Windows the narrow
// arguments are in the ANSI code page, so they are taken from the wide
// command line instead).
std::vector<std::string> programArguments(int argc, char** argv);

// The folder holding the running program as a UTF-8 path, or empty.
std::string programFolder();

// Messages are UTF-8 (they name the subjects in Chinese): on Windows the
// console is switched to show UTF-8, whatever its code page was.
void prepareConsole();

// Before the program ends with a failure: a console window of its own (the
// program was started by a double-click) would close with the message in it,
// so it waits for Enter first. Nothing happens in a terminal or on POSIX.
void holdOwnConsoleWindow();

// Lets the process hold as many descriptors as its hard limit allows: every
// connection to the site holds one, and a few hundred clients must not run
// it out of them. Nothing to do on Windows, whose sockets are not counted so.
void raiseOpenFileLimit();

// Keeps a socket (a descriptor, or a SOCKET on Windows) from the child
// processes the program starts (its browser's, its speech service): one that
// inherited the site's listener would hold the port after the program ends.
void keepSocketFromChildProcesses(std::uintptr_t socket);

// Catches the requests to stop for as long as it lives. Construct it before
// any thread starts: on POSIX the stop signals are blocked in every thread
// and taken synchronously here.
class StopRequest {
 public:
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  enum class Wait { Stop, Timeout, Failed };
  // Waits at most `timeout` for a request to stop.
  Wait wait(std::chrono::milliseconds timeout);
};

}  // namespace zandrel::site
