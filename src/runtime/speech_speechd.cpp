#include "runtime/speech_speechd.h"

#include <signal.h>
#include <speech-dispatcher/libspeechd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "runtime/spoken_mandarin.h"
#include "runtime/spoken_text.h"
#include "runtime/ssip_client_speechd.h"
#include "runtime/text_units.h"

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long a failed service is left alone before it is asked again.
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
// Whether the daemon failed lately: a daemon that did not answer in time, or
// sent a voice list past every limit, is not asked again, for each press,
// before kSilentRetryAfter has passed: each read would wait out a deadline.

class ServiceHealth {
 public:
  void failed() {
    std::lock_guard lock(mutex_);
    silentUntil_ = Clock::now() + kSilentRetryAfter;
  }
  void answered() {
    std::lock_guard lock(mutex_);
    silentUntil_ = Clock::time_point{};
  }
  bool failedLately() {
    std::lock_guard lock(mutex_);
    return Clock::now() < silentUntil_;
  }

 private:
  std::mutex mutex_;
  Clock::time_point silentUntil_{};
};

// ---------------------------------------------------------------------------
// The voice list, kept per daemon instance.

struct VoiceList {
  std::vector<std::string> names;
  std::vector<std::string> descriptions;
};

class VoiceCatalog {
 public:
  // The daemon's voices; listed again only when the daemon is another one
  // than last time. nullptr when the daemon cannot list them.
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
    if (!listDaemonVoices(address, add)) return nullptr;
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
// Events of one voice's messages, from its connection's reader thread.

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
      heard_.insert(message);
    }
    done_.notify_all();
    forward(kSpeechStart);
  }

  // Waits until the message has begun (or already ended): a daemon that
  // accepts text while its output module is stuck never starts it.
  bool waitStarted(std::size_t message, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const bool started =
        done_.wait_for(lock, timeout, [&] { return heard_.count(message) > 0 || abandoned_; });
    heard_.erase(message);
    return started && !abandoned_;
  }

  // End, or cancellation: a cancelled message that had begun is heard ending.
  // The end is told before the message counts as done, so whoever waited for
  // it finds the end already delivered.
  void finished(std::size_t message, bool cancelled) {
    bool wasBegun = false;
    {
      std::lock_guard lock(mutex_);
      wasBegun = begun_.erase(message) > 0;
      heard_.insert(message);
    }
    if (!cancelled || wasBegun) forward(kSpeechEnd);
    {
      std::lock_guard lock(mutex_);
      if (pending_.erase(message) == 0) endedEarly_.insert(message);
    }
    done_.notify_all();
  }

  // The connection is gone: no message of it will end any more.
  void abandon() {
    {
      std::lock_guard lock(mutex_);
      pending_.clear();
      abandoned_ = true;
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
  std::set<std::size_t> heard_;  // begun or ended, until waitStarted has seen it
  bool abandoned_ = false;
};

// ---------------------------------------------------------------------------

class SpeechdVoice final : public SpeechVoice {
 public:
  SpeechdVoice(std::unique_ptr<SsipSession> session, std::shared_ptr<VoiceEvents> events,
               std::shared_ptr<VoiceCatalog> catalog, std::shared_ptr<ServiceHealth> health,
               DaemonAddress address, DaemonIdentity identity)
      : session_(std::move(session)),
        events_(std::move(events)),
        catalog_(std::move(catalog)),
        health_(std::move(health)),
        address_(std::move(address)),
        identity_(std::move(identity)) {}

  // Closing cancels what the voice speaks and has queued, and waits for the
  // daemon's answer no longer than any other command. A daemon that let that
  // cancel time out (its output module stuck) counts as failed, so that the
  // voice made next does not wait out a deadline of its own in the same read.
  ~SpeechdVoice() override {
    session_->close();
    if (session_->timedOut()) health_->failed();
  }

  SpeechdVoice(const SpeechdVoice&) = delete;
  SpeechdVoice& operator=(const SpeechdVoice&) = delete;

  std::vector<std::string> voiceDescriptions() override {
    if (!listVoices()) return {};
    return voices_->descriptions;
  }

  std::optional<std::size_t> preferredVoice(const std::vector<std::string>& descriptions) override {
    return chooseSpeechdVoice(descriptions);
  }

  bool selectVoice(std::size_t index) override {
    if (!listVoices() || index >= voices_->names.size()) return false;
    if (!done(session_->command("SET SELF SYNTHESIS_VOICE " + voices_->names[index]))) return false;
    chinese_ = chooseVoice({voices_->descriptions[index]}).has_value();
    return true;
  }

  // Silences the voice at once. speech-dispatcher's own pause wedges the
  // daemon: after it, no message of any client is ever spoken again,
  // cancelled or not. A resume is never asked of a voice here, so stopping
  // what it says and has queued is what a pause amounts to.
  bool pause() override { return done(session_->command("CANCEL SELF")); }

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
  // The result of an exchange with the daemon. A daemon that did not answer
  // in time has lost this voice for good (the connection is shut, so nothing
  // asked of it is heard later), and counts as failed for the next voices.
  bool done(bool answered) {
    if (session_->broken()) {
      if (session_->timedOut()) health_->failed();
      events_->abandon();
      return false;
    }
    return answered;
  }

  // A daemon whose list failed (too slow, or past every limit) is as good as
  // one that does not answer.
  bool listVoices() {
    if (voices_) return true;
    if (session_->broken()) return false;
    voices_ = catalog_->voicesOf(address_, identity_);
    if (voices_) return true;
    health_->failed();
    session_->abandon();
    events_->abandon();
    return false;
  }

  // Nothing to say is accepted and heard as an instant start and end, as a
  // voice reading an empty text would; the daemon itself rejects an empty
  // message and gets its connection out of step over it.
  bool sayText(std::string_view text, bool xml = false) {
    if (!isValidUtf8(text) || text.find('\0') != std::string_view::npos) return false;
    if (session_->broken()) return done(false);
    if (isBlankText(text)) {
      events_->spokeNothing();
      return true;
    }
    if (!xml) return say(chinese_ ? mandarinSpokenText(text) : std::string(text));
    std::string document(text);
    // The daemon's SSML wants a <speak> root; fragments get one.
    if (asciiLowered(document).find("<speak") == std::string::npos) {
      document = "<speak>" + document + "</speak>";
    }
    if (!done(session_->command("SET SELF SSML_MODE on"))) return false;
    const bool accepted = say(document);
    if (!session_->broken()) done(session_->command("SET SELF SSML_MODE off"));
    return accepted;
  }

  // Accepted means heard: the request counts only once the daemon reports
  // that it began to speak it. One that does not begin in time is dropped
  // with the connection, so that it is not heard later, unasked, when the
  // output module wakes up.
  bool say(const std::string& text) {
    const std::optional<std::size_t> message = session_->speak(text);
    if (!done(message.has_value())) return false;
    events_->said(*message);
    if (events_->waitStarted(*message, kSsipAnswerTimeout)) return true;
    if (!session_->broken()) health_->failed();
    session_->abandon();
    events_->abandon();
    return false;
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

  std::unique_ptr<SsipSession> session_;
  std::shared_ptr<VoiceEvents> events_;
  std::shared_ptr<VoiceCatalog> catalog_;
  std::shared_ptr<ServiceHealth> health_;
  DaemonAddress address_;
  DaemonIdentity identity_;
  std::shared_ptr<const VoiceList> voices_;
  bool chinese_ = false;  // the chosen voice is a Chinese one
};

// The client's name as the daemon shows it: "<user>:<program>:<component>".
std::string clientName() {
  std::string user;
  if (const char* name = std::getenv("USER")) user = name;
  const bool plain = !user.empty() && std::all_of(user.begin(), user.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
  });
  return (plain ? user : std::string("user")) + ":zandrel:speaker";
}

class SpeechdEngine final : public SpeechEngine {
 public:
  SpeechdEngine() {
    // libspeechd, which starts the daemon when there is none, writes to its
    // socket without MSG_NOSIGNAL: a daemon that dies must give a failed
    // call, not end the program by SIGPIPE.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGPIPE, SIG_IGN);
    }
  }

  std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback onEvent) override {
    std::optional<DaemonAddress> address = defaultAddress();
    if (!address) return nullptr;
    if (health_->failedLately()) return nullptr;
    DaemonIdentity identity;
    Reach reach = probe(*address, identity);
    if (reach == Reach::Silent) return nullptr;
    if (reach == Reach::Absent) {
      startDaemon();
      // Started, but only the daemon at our address will do.
      if (probe(*address, identity) != Reach::Answered) return nullptr;
    }

    auto events = std::make_shared<VoiceEvents>(std::move(onEvent));
    std::unique_ptr<SsipSession> session =
        SsipSession::open(*address, clientName(), [events](int code, std::size_t message) {
          if (code == 701) events->begun(message);
          if (code == 702) events->finished(message, false);
          if (code == 703) events->finished(message, true);
        });
    // The daemon answered a moment ago: one that cannot take a connection
    // now is failing.
    if (!session) {
      health_->failed();
      return nullptr;
    }
    // Priority "message": queued behind this voice's earlier requests, and
    // not cut off by other programs' ordinary text.
    for (const char* setting : {"SET SELF NOTIFICATION BEGIN on", "SET SELF NOTIFICATION END on",
                                "SET SELF NOTIFICATION CANCEL on", "SET SELF PRIORITY MESSAGE"}) {
      if (!session->command(setting)) {
        if (session->timedOut()) health_->failed();
        return nullptr;
      }
    }
    return std::make_unique<SpeechdVoice>(std::move(session), std::move(events), catalog_, health_,
                                          std::move(*address), std::move(identity));
  }

 private:
  Reach probe(const DaemonAddress& address, DaemonIdentity& identity) {
    const Reach reach = probeDaemon(address, identity);
    if (reach == Reach::Silent) {
      health_->failed();
    } else {
      health_->answered();
    }
    return reach;
  }

  // libspeechd starts the daemon (autospawn) as the user's session expects:
  // the command, its arguments and its environment are its to know.
  static void startDaemon() {
    char* error = nullptr;
    SPDConnection* connection =
        spd_open2("zandrel", "start", nullptr, SPD_MODE_SINGLE, nullptr, /*autospawn=*/1, &error);
    std::free(error);
    if (connection != nullptr) spd_close(connection);
  }

  std::shared_ptr<VoiceCatalog> catalog_ = std::make_shared<VoiceCatalog>();
  std::shared_ptr<ServiceHealth> health_ = std::make_shared<ServiceHealth>();
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

// espeak-ng 1.51 lists "Chinese (Mandarin, latin as English)" first. That
// voice reads most characters as pinyin spelt out in English ("dui four" for
// 对) and is no Mandarin a learner understands; its "latin as Pinyin" sibling
// reads every character in Mandarin. The first match alone is plainly wrong
// on such a system, so the Mandarin reader is preferred.
std::optional<std::size_t> chooseSpeechdVoice(const std::vector<std::string>& descriptions) {
  const std::optional<std::size_t> first = chooseVoice(descriptions);
  if (!first) return std::nullopt;
  std::optional<std::size_t> variant;
  for (std::size_t i = *first; i < descriptions.size(); ++i) {
    const std::string lowered = asciiLowered(descriptions[i]);
    if (lowered.find("mandarin") == std::string::npos ||
        lowered.find("latin as pinyin") == std::string::npos || !chooseVoice({descriptions[i]})) {
      continue;
    }
    if (lowered.find('+') == std::string::npos) return i;
    if (!variant) variant = i;
  }
  return variant ? variant : first;
}

std::unique_ptr<SpeechEngine> createSpeechDispatcherEngine() {
  return std::make_unique<SpeechdEngine>();
}

}  // namespace zandrel
