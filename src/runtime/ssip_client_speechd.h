#pragma once
// A plain SSIP client with deadlines beside libspeechd. No libspeechd call
// takes a time limit: spd_open2, like every command after it, waits for the
// daemon's answer as long as it takes, so a daemon that accepts connections
// and never answers would hang a read-aloud run inside libspeechd. The daemon
// is asked here first, and its voice list (which espeak-ng makes thirteen
// thousand lines long) is read here too, with a deadline of its own.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

struct DaemonAddress {
  bool unixSocket = true;
  std::string path;  // unix socket
  std::string host;  // inet socket
  int port = 0;
};

// Tells one daemon instance from the next: a restarted daemon makes a new
// socket file, and a reconfigured one may offer other output modules.
struct DaemonIdentity {
  std::string address;
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t changedSec = 0;
  std::int64_t changedNsec = 0;
  std::vector<std::string> modules;

  bool operator==(const DaemonIdentity&) const = default;
};

// Absent: nothing listens at the address. Silent: something does, but it did
// not answer in time.
enum class Reach { Answered, Absent, Silent };

// Asks the daemon at `address` who it is; Answered fills `identity`.
Reach probeDaemon(const DaemonAddress& address, DaemonIdentity& identity);

// Calls `each` with every synthesis voice's name, language and variant;
// false when the daemon cannot list them in time.
bool listDaemonVoices(
    const DaemonAddress& address,
    const std::function<void(std::string_view, std::string_view, std::string_view)>& each);

}  // namespace zandrel
