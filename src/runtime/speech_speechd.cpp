#include "runtime/speech_speechd.h"

#include <pthread.h>
#include <signal.h>
#include <speech-dispatcher/libspeechd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "runtime/spoken_text.h"
#include "runtime/ssip_client_speechd.h"
#include "runtime/text_units.h"

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

// A daemon that did not answer in time is not asked again, for each press,
// before this has passed: each read would wait out the probe's deadline.
constexpr std::chrono::milliseconds kSilentRetryAfter{5000};
// Larger files are no question text.
constexpr std::streamsize kMaxSpokenFileBytes = 4 << 20;

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
    auto listed = std::make_shared<VoiceList>();
    const auto add = [&](std::string_view name, std::string_view language,
                         std::string_view variant) {
      listed->names.emplace_back(name);
      listed->descriptions.push_back(describeSpeechdVoice(name, language, variant));
    };
    if (!listDaemonVoices(address, add)) return std::make_shared<const VoiceList>();
    voices_ = std::move(listed);
    listedFor_ = identity;
    return voices_;
  }

 private:
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
        return sayText(text, /*xml=*/true);
      default:
        return false;
    }
  }

  bool waitUntilDone(int timeoutMs) override { return events_->waitUntilDone(timeoutMs); }

 private:
  // Nothing to say is accepted and heard as an instant start and end, as a
  // voice reading an empty text would; the daemon itself rejects an empty
  // message and gets its connection out of step over it.
  bool sayText(std::string_view text, bool xml = false) {
    if (!isValidUtf8(text) || text.find('\0') != std::string_view::npos) return false;
    if (isBlankText(text)) {
      events_->spokeNothing();
      return true;
    }
    if (!xml) return say(std::string(text));
    std::string document(text);
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
