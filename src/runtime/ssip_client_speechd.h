#pragma once
// A plain SSIP client with deadlines, in place of libspeechd's connection. No
// libspeechd call takes a time limit: spd_open2, like every command after it,
// waits for the daemon's answer as long as it takes, so a daemon (or an output
// module) that stops answering would hang a read-aloud run inside libspeechd
// for good. Every exchange here has a deadline, and every answer a size limit.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
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

// How long one exchange on an open connection may take, and how long the
// daemon may stay silent in the middle of a long answer.
inline constexpr std::chrono::milliseconds kSsipAnswerTimeout{2000};
// The longest voice list taken. Real systems list a few hundred voices, and
// espeak-ng with all its variants about 13,400 lines in 0.6 MB; a daemon that
// sends more is broken, and reading on would only fill the memory.
inline constexpr std::size_t kMaxVoiceListLines = 200000;
inline constexpr std::size_t kMaxVoiceListBytes = 16u << 20;

// Calls `each` with every synthesis voice's name, language and variant;
// false when the daemon cannot list them in time or sends more than the
// limits above.
bool listDaemonVoices(
    const DaemonAddress& address,
    const std::function<void(std::string_view, std::string_view, std::string_view)>& each);

// One open connection to the daemon. Each command waits for its answer until
// its deadline; past it the connection is given up for good: the socket is
// shut (the daemon then drops this client and what it queued), the session
// counts as broken and every later call fails at once. Commands must not
// overlap; events arrive on the session's own reader thread.
class SsipSession {
 public:
  // An event of one of this client's messages: 701 begin, 702 end, 703
  // cancelled (and the others SSIP knows), with the message's id.
  using EventHandler = std::function<void(int code, std::size_t message)>;

  // Connects, names the client and learns its id; nullptr when the daemon is
  // absent, silent or answers wrongly.
  static std::unique_ptr<SsipSession> open(const DaemonAddress& address,
                                           std::string_view clientName, EventHandler onEvent);
  ~SsipSession();
  SsipSession(const SsipSession&) = delete;
  SsipSession& operator=(const SsipSession&) = delete;

  // One command line; true for a 2xx answer.
  bool command(std::string_view line);
  // SPEAK with `text` as its data; the message's id when the daemon queued it.
  std::optional<std::size_t> speak(std::string_view text);
  // Asks the daemon to stop and drop this client's messages, then shuts the
  // connection; waits for the answer no longer than the deadline.
  void close();

  bool broken() const { return broken_.load(); }
  // Broken because the daemon did not answer in time (not because it went).
  bool timedOut() const { return timedOut_.load(); }
  // Gives the connection up at once, as after a deadline, without waiting
  // for any answer.
  void abandon() { giveUp(false); }

  // Takes `fd`, a connected stream socket; open() is the way to get one.
  SsipSession(int fd, EventHandler onEvent);

 private:
  struct Reply {
    int code = 0;
    std::vector<std::string> data;
  };
  bool send(std::string_view bytes);
  std::optional<Reply> awaitReply();
  std::optional<Reply> exchange(std::string_view line);
  void giveUp(bool timedOut);
  void readLoop();

  int fd_;
  EventHandler onEvent_;
  // Until the daemon has told it, no event is this client's.
  std::atomic<std::size_t> clientId_{static_cast<std::size_t>(-1)};
  std::atomic<bool> broken_{false};
  std::atomic<bool> timedOut_{false};
  std::mutex mutex_;
  std::condition_variable replied_;
  std::deque<Reply> replies_;
  bool readerDone_ = false;
  std::thread reader_;
};

}  // namespace zandrel
