#include "runtime/speech_speechd.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <speech-dispatcher/libspeechd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "runtime/spoken_text.h"

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long a daemon may take to answer before it counts as unreachable, so a
// hung daemon cannot hang the program.
constexpr std::chrono::milliseconds kAnswerTimeout{3000};
// A daemon that did not answer in time is not asked again, for each press,
// before this has passed: it would hold up every read by kAnswerTimeout.
constexpr std::chrono::milliseconds kSilentRetryAfter{5000};
// Listing espeak-ng's thirteen thousand voices takes the daemon 2-3 s.
constexpr std::chrono::milliseconds kListTimeout{30000};
// Larger files are no question text.
constexpr std::streamsize kMaxSpokenFileBytes = 4 << 20;

std::string asciiLowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return out;
}

// ---------------------------------------------------------------------------
// The daemon's address and identity.

struct DaemonAddress {
  bool unixSocket = true;
  std::string path;  // unix socket
  std::string host;  // inet socket
  int port = 0;
};

std::optional<DaemonAddress> defaultAddress() {
  char* error = nullptr;
  SPDConnectionAddress* raw = spd_get_default_address(&error);
  std::free(error);
  if (raw == nullptr) return std::nullopt;
  std::unique_ptr<SPDConnectionAddress, void (*)(SPDConnectionAddress*)> address(
      raw, SPDConnectionAddress__free);
  DaemonAddress out;
  if (address->method == SPD_METHOD_UNIX_SOCKET && address->unix_socket_name != nullptr) {
    out.path = address->unix_socket_name;
  } else if (address->method == SPD_METHOD_INET_SOCKET && address->inet_socket_host != nullptr) {
    out.unixSocket = false;
    out.host = address->inet_socket_host;
    out.port = address->inet_socket_port;
  } else {
    return std::nullopt;
  }
  return out;
}

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

// ---------------------------------------------------------------------------
// A plain SSIP connection with deadlines, for what libspeechd cannot bound:
// checking that the daemon answers at all, and reading its long voice list
// (libspeechd parses that list for several seconds more).

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, millisecondsLeft(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

enum class Reach { Answered, Absent, Silent };

class SsipSocket {
 public:
  // Absent when nothing listens at the address; Silent when the connection
  // cannot be completed in time.
  static Reach connect(const DaemonAddress& address, Clock::time_point deadline,
                       std::optional<SsipSocket>& out) {
    if (address.unixSocket) {
      sockaddr_un sun{};
      sun.sun_family = AF_UNIX;
      if (address.path.size() >= sizeof(sun.sun_path)) return Reach::Absent;
      std::memcpy(sun.sun_path, address.path.data(), address.path.size());
      UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
      if (fd.get() < 0) return Reach::Absent;
      return finishConnect(std::move(fd), reinterpret_cast<const sockaddr*>(&sun), sizeof(sun),
                           deadline, out);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0) {
      return Reach::Absent;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, ::freeaddrinfo);
    Reach result = Reach::Absent;
    for (addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
      UniqueFd fd(
          ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
      if (fd.get() < 0) continue;
      result = finishConnect(std::move(fd), a->ai_addr, a->ai_addrlen, deadline, out);
      if (result == Reach::Answered) break;
    }
    return result;
  }

  // Sends one command; the data lines of a successful (2xx) reply.
  std::optional<std::vector<std::string>> command(std::string_view text,
                                                  Clock::time_point deadline) {
    std::string line(text);
    line += "\r\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
      const ssize_t n = ::send(fd_.get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!waitFor(fd_.get(), POLLOUT, deadline)) return std::nullopt;
      } else {
        return std::nullopt;
      }
    }
    std::vector<std::string> data;
    for (;;) {
      std::optional<std::string> reply = readLine(deadline);
      if (!reply || reply->size() < 4) return std::nullopt;
      // An event (7xx) is never the answer. The daemon writes a closed
      // connection's late events to whichever connection now has its file
      // descriptor — often this short one, made right after the previous
      // voice was closed. Read as the reply, such an event failed a press.
      if ((*reply)[0] == '7') continue;
      if ((*reply)[3] == '-') {
        data.push_back(reply->substr(4));
        continue;
      }
      if ((*reply)[0] != '2') return std::nullopt;
      return data;
    }
  }

 private:
  explicit SsipSocket(UniqueFd fd) : fd_(std::move(fd)) {}

  static Reach finishConnect(UniqueFd fd, const sockaddr* address, socklen_t length,
                             Clock::time_point deadline, std::optional<SsipSocket>& out) {
    if (::connect(fd.get(), address, length) != 0) {
      if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) return Reach::Absent;
      if (!waitFor(fd.get(), POLLOUT, deadline)) return Reach::Silent;
      int error = 0;
      socklen_t size = sizeof(error);
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        return Reach::Absent;
      }
    }
    out.emplace(SsipSocket(std::move(fd)));
    return Reach::Answered;
  }

  std::optional<std::string> readLine(Clock::time_point deadline) {
    for (;;) {
      const std::size_t end = buffer_.find("\r\n", scanned_);
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        scanned_ = 0;
        return line;
      }
      scanned_ = buffer_.empty() ? 0 : buffer_.size() - 1;
      char chunk[65536];
      const ssize_t n = ::recv(fd_.get(), chunk, sizeof(chunk), 0);
      if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!waitFor(fd_.get(), POLLIN, deadline)) return std::nullopt;
      } else {
        return std::nullopt;
      }
    }
  }

  UniqueFd fd_;
  std::string buffer_;
  std::size_t scanned_ = 0;
};

// Asks the daemon at `address` who it is; Answered fills `identity`.
Reach probeDaemon(const DaemonAddress& address, DaemonIdentity& identity) {
  const Clock::time_point deadline = Clock::now() + kAnswerTimeout;
  std::optional<SsipSocket> socket;
  const Reach reach = SsipSocket::connect(address, deadline, socket);
  if (reach != Reach::Answered) return reach;
  std::optional<std::vector<std::string>> modules =
      socket->command("LIST OUTPUT_MODULES", deadline);
  if (!modules) return Reach::Silent;
  identity = DaemonIdentity{};
  identity.modules = std::move(*modules);
  if (address.unixSocket) {
    identity.address = address.path;
    struct stat st {};
    if (::stat(address.path.c_str(), &st) == 0) {
      identity.device = st.st_dev;
      identity.inode = st.st_ino;
      identity.changedSec = st.st_ctim.tv_sec;
      identity.changedNsec = st.st_ctim.tv_nsec;
    }
  } else {
    identity.address = address.host + ":" + std::to_string(address.port);
  }
  return Reach::Answered;
}

// ---------------------------------------------------------------------------
// The voice list, kept per daemon instance.

struct VoiceList {
  std::vector<std::string> names;
  std::vector<std::string> descriptions;
};

class VoiceCatalog {
 public:
  // The daemon's voices; listed again only when the daemon is another one
  // than last time. Empty when the daemon cannot list them.
  std::shared_ptr<const VoiceList> voicesOf(const DaemonAddress& address,
                                            const DaemonIdentity& identity) {
    std::lock_guard lock(mutex_);
    if (voices_ && listedFor_ == identity) return voices_;
    std::shared_ptr<VoiceList> listed = list(address);
    if (!listed) return std::make_shared<const VoiceList>();
    voices_ = std::move(listed);
    listedFor_ = identity;
    return voices_;
  }

 private:
  static std::shared_ptr<VoiceList> list(const DaemonAddress& address) {
    const Clock::time_point deadline = Clock::now() + kListTimeout;
    std::optional<SsipSocket> socket;
    if (SsipSocket::connect(address, deadline, socket) != Reach::Answered) return nullptr;
    std::optional<std::vector<std::string>> lines =
        socket->command("LIST SYNTHESIS_VOICES", deadline);
    if (!lines) return nullptr;
    auto voices = std::make_shared<VoiceList>();
    voices->names.reserve(lines->size());
    voices->descriptions.reserve(lines->size());
    for (const std::string& line : *lines) {
      // "<name>\t<language>\t<variant>"
      const std::size_t tab1 = line.find('\t');
      const std::string_view name = std::string_view(line).substr(0, tab1);
      std::string_view language;
      std::string_view variant;
      if (tab1 != std::string::npos) {
        const std::size_t tab2 = line.find('\t', tab1 + 1);
        language = std::string_view(line).substr(
            tab1 + 1, tab2 == std::string::npos ? std::string::npos : tab2 - tab1 - 1);
        if (tab2 != std::string::npos) variant = std::string_view(line).substr(tab2 + 1);
      }
      if (name.empty()) continue;
      voices->names.emplace_back(name);
      voices->descriptions.push_back(describeSpeechdVoice(name, language, variant));
    }
    return voices;
  }

  std::mutex mutex_;
  std::optional<DaemonIdentity> listedFor_;
  std::shared_ptr<const VoiceList> voices_;
};

// ---------------------------------------------------------------------------
// Events. libspeechd's callbacks carry no user data, only the client id of the
// connection; they run on the connection's own event thread.

class VoiceEvents {
 public:
  explicit VoiceEvents(VoiceEventCallback onEvent) : onEvent_(std::move(onEvent)) {}

  // A message the daemon accepted; its events may already have come.
  void said(std::size_t message) {
    std::lock_guard lock(mutex_);
    if (endedEarly_.erase(message) == 0) pending_.insert(message);
  }

  void begun(std::size_t message) {
    {
      std::lock_guard lock(mutex_);
      begun_.insert(message);
    }
    forward(kSpeechStart);
  }

  // End, or cancellation: a cancelled message that had begun is heard ending.
  // The end is told before the message counts as done, so whoever waited for
  // it finds the end already delivered.
  void finished(std::size_t message, bool cancelled) {
    bool wasBegun = false;
    {
      std::lock_guard lock(mutex_);
      wasBegun = begun_.erase(message) > 0;
    }
    if (!cancelled || wasBegun) forward(kSpeechEnd);
    {
      std::lock_guard lock(mutex_);
      if (pending_.erase(message) == 0) endedEarly_.insert(message);
    }
    done_.notify_all();
  }

  // A request that needs no daemon (nothing to say): started and ended at once.
  void spokeNothing() {
    forward(kSpeechStart);
    forward(kSpeechEnd);
  }

  bool waitUntilDone(int timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto idle = [this] { return pending_.empty(); };
    if (timeoutMs < 0) {
      done_.wait(lock, idle);
      return true;
    }
    return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle);
  }

 private:
  void forward(SpeechEvent event) {
    if (onEvent_) onEvent_(event);
  }

  VoiceEventCallback onEvent_;  // set once, before any event
  std::mutex mutex_;
  std::condition_variable done_;
  std::set<std::size_t> pending_;
  std::set<std::size_t> endedEarly_;
  std::set<std::size_t> begun_;
};

// Voices by their connection's client id. The daemon may deliver a closed
// connection's late events on a newer connection, so the id in the event,
// not the connection it came on, decides whose event it is.
class EventRoutes {
 public:
  void add(std::size_t client, std::shared_ptr<VoiceEvents> events) {
    std::lock_guard lock(mutex_);
    routes_[client] = std::move(events);
  }
  void remove(std::size_t client) {
    std::lock_guard lock(mutex_);
    routes_.erase(client);
  }
  std::shared_ptr<VoiceEvents> find(std::size_t client) {
    std::lock_guard lock(mutex_);
    const auto it = routes_.find(client);
    return it == routes_.end() ? nullptr : it->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::size_t, std::shared_ptr<VoiceEvents>> routes_;
};

EventRoutes& eventRoutes() {
  static EventRoutes routes;
  return routes;
}

// spd_close stops the event thread with pthread_cancel. Our code must not be
// cancelled half-way (a held lock, a half-sent message), so cancellation
// waits until the callback is back in libspeechd.
class NoCancellation {
 public:
  NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous_); }
  ~NoCancellation() { pthread_setcancelstate(previous_, nullptr); }
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  int previous_ = PTHREAD_CANCEL_ENABLE;
};

void onSpeechdEvent(size_t message, size_t client, SPDNotificationType type) {
  NoCancellation guard;
  const std::shared_ptr<VoiceEvents> events = eventRoutes().find(client);
  if (!events) return;  // a voice already destroyed
  switch (type) {
    case SPD_EVENT_BEGIN:
      events->begun(message);
      break;
    case SPD_EVENT_END:
      events->finished(message, false);
      break;
    case SPD_EVENT_CANCEL:
      events->finished(message, true);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------

struct ConnectionCloser {
  void operator()(SPDConnection* connection) const {
    // Stops the sound at once and drops the queue; closing alone would let the
    // daemon finish the message.
    spd_cancel(connection);
    spd_close(connection);
  }
};
using Connection = std::unique_ptr<SPDConnection, ConnectionCloser>;

class SpeechdVoice final : public SpeechVoice {
 public:
  SpeechdVoice(Connection connection, std::size_t client, std::shared_ptr<VoiceEvents> events,
               std::shared_ptr<VoiceCatalog> catalog, DaemonAddress address,
               DaemonIdentity identity)
      : connection_(std::move(connection)),
        client_(client),
        events_(std::move(events)),
        catalog_(std::move(catalog)),
        address_(std::move(address)),
        identity_(std::move(identity)) {}

  ~SpeechdVoice() override {
    // Unrouted first: whatever the closing connection still reports is no
    // longer this voice's to tell.
    eventRoutes().remove(client_);
    connection_.reset();
  }

  SpeechdVoice(const SpeechdVoice&) = delete;
  SpeechdVoice& operator=(const SpeechdVoice&) = delete;

  SPDConnection* connection() const { return connection_.get(); }

  std::vector<std::string> voiceDescriptions() override {
    voices_ = catalog_->voicesOf(address_, identity_);
    return voices_->descriptions;
  }

  bool selectVoice(std::size_t index) override {
    if (!voices_) voices_ = catalog_->voicesOf(address_, identity_);
    if (index >= voices_->names.size()) return false;
    return spd_set_synthesis_voice(connection_.get(), voices_->names[index].c_str()) == 0;
  }

  // Silences the voice at once. speech-dispatcher's own pause (spd_pause)
  // wedges the daemon: after it, no message of any client is ever spoken
  // again, cancelled or not. A resume is never asked of a voice here, so
  // stopping what it says and has queued is what a pause amounts to.
  bool pause() override { return spd_cancel(connection_.get()) == 0; }

  bool speak(int mode, std::string_view text) override {
    switch (mode) {
      case kSpeakText:
        return sayText(text);
      case kSpeakFile: {
        std::optional<std::string> contents = readTextFile(text);
        return contents && sayText(*contents);
      }
      case kSpeakXml:
        return sayXml(text);
      default:
        return false;
    }
  }

  bool waitUntilDone(int timeoutMs) override { return events_->waitUntilDone(timeoutMs); }

 private:
  // Nothing to say is accepted and heard as an instant start and end, as a
  // voice reading an empty text would; the daemon itself rejects an empty
  // message and gets its connection out of step over it.
  bool sayText(std::string_view text) {
    if (!isValidUtf8(text) || text.find('\0') != std::string_view::npos) return false;
    if (isBlankText(text)) {
      events_->spokeNothing();
      return true;
    }
    return say(std::string(text));
  }

  bool sayXml(std::string_view xml) {
    if (!isValidUtf8(xml) || xml.find('\0') != std::string_view::npos) return false;
    if (isBlankText(xml)) {
      events_->spokeNothing();
      return true;
    }
    std::string document(xml);
    // The daemon's SSML wants a <speak> root; fragments get one.
    if (asciiLowered(document).find("<speak") == std::string::npos) {
      document = "<speak>" + document + "</speak>";
    }
    if (spd_set_data_mode(connection_.get(), SPD_DATA_SSML) != 0) return false;
    const bool accepted = say(document);
    spd_set_data_mode(connection_.get(), SPD_DATA_TEXT);
    return accepted;
  }

  bool say(const std::string& text) {
    // Priority "message": queued behind this voice's earlier requests, and
    // not cut off by other programs' ordinary text.
    const int message = spd_say(connection_.get(), SPD_MESSAGE, text.c_str());
    if (message < 0) return false;
    events_->said(static_cast<std::size_t>(message));
    return true;
  }

  static std::optional<std::string> readTextFile(std::string_view path) {
    std::ifstream file{std::string(path), std::ios::binary};
    if (!file) return std::nullopt;
    std::string contents;
    char chunk[8192];
    while (file.read(chunk, sizeof(chunk)) || file.gcount() > 0) {
      contents.append(chunk, static_cast<std::size_t>(file.gcount()));
      if (static_cast<std::streamsize>(contents.size()) > kMaxSpokenFileBytes) return std::nullopt;
    }
    if (file.bad()) return std::nullopt;
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (std::string_view(contents).substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      contents.erase(0, kByteOrderMark.size());
    }
    return contents;
  }

  Connection connection_;
  std::size_t client_;
  std::shared_ptr<VoiceEvents> events_;
  std::shared_ptr<VoiceCatalog> catalog_;
  DaemonAddress address_;
  DaemonIdentity identity_;
  std::shared_ptr<const VoiceList> voices_;
};

class SpeechdEngine final : public SpeechEngine {
 public:
  SpeechdEngine() {
    // libspeechd writes to its socket without MSG_NOSIGNAL: a daemon that dies
    // must give a failed call, not end the program by SIGPIPE.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGPIPE, SIG_IGN);
    }
  }

  std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback onEvent) override {
    std::optional<DaemonAddress> address = defaultAddress();
    if (!address) return nullptr;
    if (noticedSilent()) return nullptr;
    DaemonIdentity identity;
    const Reach reach = probe(*address, identity);
    // A daemon that is there but does not answer would hang libspeechd.
    if (reach == Reach::Silent) return nullptr;

    char* error = nullptr;
    Connection connection(spd_open2("zandrel", "speaker", nullptr, SPD_MODE_THREADED, nullptr,
                                    /*autospawn=*/1, &error));
    std::free(error);
    if (!connection) return nullptr;
    if (reach == Reach::Absent && probe(*address, identity) != Reach::Answered) {
      return nullptr;  // started, but not the daemon at our address
    }
    const int client = spd_get_client_id(connection.get());
    if (client < 0) return nullptr;

    auto events = std::make_shared<VoiceEvents>(std::move(onEvent));
    eventRoutes().add(static_cast<std::size_t>(client), events);
    // From here the voice owns the route and removes it whatever happens.
    auto voice =
        std::make_unique<SpeechdVoice>(std::move(connection), static_cast<std::size_t>(client),
                                       events, catalog_, std::move(*address), std::move(identity));
    SPDConnection* raw = voice->connection();
    raw->callback_begin = onSpeechdEvent;
    raw->callback_end = onSpeechdEvent;
    raw->callback_cancel = onSpeechdEvent;
    if (spd_set_notification_on(raw, SPD_BEGIN) != 0 ||
        spd_set_notification_on(raw, SPD_END) != 0 ||
        spd_set_notification_on(raw, SPD_CANCEL) != 0) {
      return nullptr;
    }
    return voice;
  }

 private:
  Reach probe(const DaemonAddress& address, DaemonIdentity& identity) {
    const Reach reach = probeDaemon(address, identity);
    std::lock_guard lock(silentMutex_);
    silentUntil_ = reach == Reach::Silent ? Clock::now() + kSilentRetryAfter : Clock::time_point{};
    return reach;
  }

  bool noticedSilent() {
    std::lock_guard lock(silentMutex_);
    return Clock::now() < silentUntil_;
  }

  std::shared_ptr<VoiceCatalog> catalog_ = std::make_shared<VoiceCatalog>();
  std::mutex silentMutex_;
  Clock::time_point silentUntil_{};
};

}  // namespace

std::string describeSpeechdVoice(std::string_view name, std::string_view language,
                                 std::string_view variant) {
  static constexpr std::string_view kChineseLanguages[] = {"zh",  "zho", "chi", "cmn", "yue", "wuu",
                                                           "hak", "nan", "gan", "hsn", "cdo", "cjy",
                                                           "cpx", "czh", "czo", "mnp", "lzh"};
  const std::string lowered = asciiLowered(language);
  const std::string primary = lowered.substr(0, lowered.find_first_of("-_"));
  const bool chinese = std::find(std::begin(kChineseLanguages), std::end(kChineseLanguages),
                                 primary) != std::end(kChineseLanguages);
  std::string description(name);
  description += " (";
  if (chinese && asciiLowered(name).find("chinese") == std::string::npos)
    description += "Chinese, ";
  description += language;
  if (!variant.empty() && asciiLowered(variant) != "none") {
    description += ", ";
    description += variant;
  }
  description += ")";
  return description;
}

std::unique_ptr<SpeechEngine> createSpeechDispatcherEngine() {
  return std::make_unique<SpeechdEngine>();
}

}  // namespace zandrel
