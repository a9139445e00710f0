// The speech-dispatcher engine against a speech service that stops answering:
// its output module or the daemon itself stopped (SIGSTOP, as a stuck audio
// device would do), and a daemon that floods its voice list. Run through
// speech_audio_run.py, which provides the daemon, the audio sink and the fake.
// A read here is what F1 does with the speaker: pause, reset, speak; a read
// that is not accepted is the one that ends in the "转换失败！" box.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>

#include "monitor_recording.h"
#include "runtime/speech.h"
#include "runtime/speech_speechd.h"
#include "runtime/ssip_client_speechd.h"

namespace zandrel {
namespace {

using test_support::MonitorRecording;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr WindowHandle kLabel = 0x5151;
const char kQuestion[] =
    "驾驶机动车在道路上发生故障，需要停车排除故障时，驾驶人应当立即开启危险报警闪光灯。";
const char kLongText[] =
    "驾驶机动车在道路上发生故障需要停车排除故障时驾驶人应当立即开启危险报警闪光灯"
    "将机动车移至不妨碍交通的地方停放难以移动的应当持续开启危险报警闪光灯并在来车方向设置警告标志";

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

class Events {
 public:
  NotificationSink sink() {
    return [this](WindowHandle, unsigned, std::uintptr_t wParam, std::intptr_t) {
      std::lock_guard lock(mutex_);
      kinds_.push_back(wParam);
      changed_.notify_all();
    };
  }
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return kinds_.size() >= count; });
  }
  void clear() {
    std::lock_guard lock(mutex_);
    kinds_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uintptr_t> kinds_;
};

// One F1: true when the voice accepted the question.
bool readAloud(TextToSpeech& speech, const char* text, int waitMs = 0) {
  speech.pause();
  speech.reset();
  return speech.speak(kSpeakText, text, waitMs, kLabel);
}

// The output module of the test's daemon: speech-dispatcher's modules carry
// its XDG_RUNTIME_DIR.
pid_t findModule() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr) return -1;
  const std::string marker = std::string("XDG_RUNTIME_DIR=") + runtime;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return -1;
  while (const dirent* entry = ::readdir(proc.get())) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.rfind("sd_espeak", 0) != 0) continue;
    std::ifstream env("/proc/" + pid + "/environ", std::ios::binary);
    std::stringstream all;
    all << env.rdbuf();
    std::string item;
    while (std::getline(all, item, '\0')) {
      if (item == marker) return static_cast<pid_t>(std::stoi(pid));
    }
  }
  return -1;
}

// A stopped process, continued again whatever happens to the test.
class Stopped {
 public:
  explicit Stopped(pid_t pid) : pid_(pid) { ::kill(pid_, SIGSTOP); }
  ~Stopped() { resume(); }
  Stopped(const Stopped&) = delete;
  Stopped& operator=(const Stopped&) = delete;
  void resume() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
    pid_ = -1;
  }

 private:
  pid_t pid_;
};

// The service failed: reads within the next 5 s fail at once, and the first
// read after that speaks again.
void expectRecovery(TextToSpeech& speech, Events& events, Clock::time_point failedAt) {
  const Clock::time_point quick = Clock::now();
  EXPECT_FALSE(readAloud(speech, kQuestion));
  EXPECT_LT(msSince(quick), 100.0) << "a read right after a failure waits again";
  std::this_thread::sleep_until(failedAt + 5300ms);
  events.clear();
  EXPECT_TRUE(readAloud(speech, "好", 20000));
  EXPECT_TRUE(events.waitFor(2, 5s)) << "the read after the stop spoke nothing";
}

TEST(SpeechdStalled, AStoppedOutputModuleFailsTheReadInTimeAndIsNotHeardLater) {
  ASSERT_NE(std::getenv("ZANDREL_TEST_MONITOR"), nullptr) << "run through speech_audio_run.py";
  std::unique_ptr<SpeechEngine> engine = createSpeechDispatcherEngine();
  Events events;
  TextToSpeech speech(*engine, events.sink());
  speech.construct();
  ASSERT_FALSE(speech.empty());
  ASSERT_TRUE(speech.speak(kSpeakText, kLongText, 0, kLabel));
  ASSERT_TRUE(events.waitFor(1, 10s));
  const pid_t module = findModule();
  ASSERT_GT(module, 0) << "no output module of the test's daemon";
  Clock::time_point failedAt;
  {
    Stopped stopped(module);
    const Clock::time_point pressed = Clock::now();
    EXPECT_FALSE(readAloud(speech, kQuestion));
    failedAt = Clock::now();
    std::printf("stopped module: F1 to the failed read %.0f ms\n", msSince(pressed));
    EXPECT_LT(msSince(pressed), 3000.0);
    MonitorRecording recording;
    ASSERT_TRUE(recording.running());
    std::this_thread::sleep_for(500ms);
    stopped.resume();
    const Clock::time_point resumed = Clock::now();
    std::this_thread::sleep_for(3s);
    // What the module had already handed to the sound server may still
    // drain; the rest of the message and the question never come.
    const double heard = recording.audibleMsAfter(resumed + 500ms);
    std::printf("stopped module: sound heard 0.5-3 s after SIGCONT: %.0f ms\n", heard);
    EXPECT_LT(heard, 50.0);
  }
  expectRecovery(speech, events, failedAt);
}

TEST(SpeechdStalled, AStoppedDaemonFailsTheReadInTimeAndIsNotHeardLater) {
  const char* daemonPid = std::getenv("ZANDREL_TEST_SPEECHD_PID");
  ASSERT_NE(daemonPid, nullptr) << "run through speech_audio_run.py";
  std::unique_ptr<SpeechEngine> engine = createSpeechDispatcherEngine();
  Events events;
  TextToSpeech speech(*engine, events.sink());
  speech.construct();
  ASSERT_FALSE(speech.empty());
  ASSERT_TRUE(speech.speak(kSpeakText, "好", 20000, kLabel));
  Clock::time_point failedAt;
  {
    // Stopped while idle: the read's first call waits in vain.
    Stopped stopped(static_cast<pid_t>(std::atoi(daemonPid)));
    const Clock::time_point pressed = Clock::now();
    EXPECT_FALSE(readAloud(speech, kQuestion));
    failedAt = Clock::now();
    std::printf("stopped daemon: F1 to the failed read %.0f ms\n", msSince(pressed));
    EXPECT_LT(msSince(pressed), 3000.0);
    MonitorRecording recording;
    stopped.resume();
    const Clock::time_point resumed = Clock::now();
    std::this_thread::sleep_for(3s);
    const double heard = recording.audibleMsAfter(resumed);
    std::printf("stopped daemon: sound heard within 3 s of SIGCONT: %.0f ms\n", heard);
    EXPECT_EQ(heard, 0.0);
  }
  expectRecovery(speech, events, failedAt);

  // Stopped between the reset and the speech: the question that timed out
  // is never spoken once the daemon goes on.
  speech.pause();
  speech.reset();
  ASSERT_FALSE(speech.empty());
  {
    Stopped stopped(static_cast<pid_t>(std::atoi(daemonPid)));
    const Clock::time_point asked = Clock::now();
    EXPECT_FALSE(speech.speak(kSpeakText, kQuestion, 0, kLabel));
    std::printf("stopped daemon: speak refused after %.0f ms\n", msSince(asked));
    EXPECT_LT(msSince(asked), 3000.0);
    MonitorRecording recording;
    stopped.resume();
    const Clock::time_point resumed = Clock::now();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(recording.audibleMsAfter(resumed), 0.0) << "the question was spoken later, unasked";
  }
}

long peakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int listsAsked(const char* countFile) {
  std::ifstream in(countFile);
  int n = -1;
  in >> n;
  return n;
}

// The fake daemon answers the handshake, then streams voices without end.
TEST(SpeechdEndlessList, TheListIsBoundedAndItsFailureCountsAsAFailedService) {
  const char* countFile = std::getenv("ZANDREL_TEST_FAKE_COUNT");
  ASSERT_NE(countFile, nullptr) << "run through speech_audio_run.py";
  std::unique_ptr<SpeechEngine> engine = createSpeechDispatcherEngine();
  Events events;
  TextToSpeech speech(*engine, events.sink());
  const long before = peakRssKb();
  const Clock::time_point pressed = Clock::now();
  speech.construct();
  const bool accepted = speech.speak(kSpeakText, kQuestion, 0, kLabel);
  const double firstMs = msSince(pressed);
  const long grownMb = (peakRssKb() - before) / 1024;
  std::printf("endless list: first read failed after %.0f ms, peak memory grew %ld MB\n", firstMs,
              grownMb);
  EXPECT_FALSE(accepted);
  EXPECT_LT(grownMb, 200);
  EXPECT_LT(firstMs, 10000.0);
  EXPECT_EQ(listsAsked(countFile), 1);
  // The next presses within 5 s neither list again nor wait.
  for (int i = 0; i < 3; ++i) {
    const Clock::time_point again = Clock::now();
    EXPECT_FALSE(readAloud(speech, kQuestion));
    EXPECT_LT(msSince(again), 100.0);
  }
  EXPECT_EQ(listsAsked(countFile), 1);
}

// A daemon of one connection, scripted by the test: it reads what the client
// sends and writes what the test tells it to.
class ScriptedDaemon {
 public:
  ScriptedDaemon() {
    path_ = ::testing::TempDir() + "ssip-" + std::to_string(::getpid()) + ".sock";
    ::unlink(path_.c_str());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    std::memcpy(sun.sun_path, path_.c_str(), path_.size() + 1);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&sun), sizeof(sun));
    ::listen(listener_, 1);
  }
  ~ScriptedDaemon() {
    if (client_ >= 0) ::close(client_);
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  ScriptedDaemon(const ScriptedDaemon&) = delete;
  ScriptedDaemon& operator=(const ScriptedDaemon&) = delete;

  DaemonAddress address() const { return DaemonAddress{true, path_, "", 0}; }

  // Reads up to and including `end`; empty when the client closed first.
  std::string readUntil(const std::string& end) {
    if (client_ < 0) client_ = ::accept(listener_, nullptr, nullptr);
    while (buffer_.find(end) == std::string::npos) {
      char chunk[4096];
      const ssize_t n = ::recv(client_, chunk, sizeof(chunk), 0);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    const std::size_t at = buffer_.find(end) + end.size();
    std::string got = buffer_.substr(0, at);
    buffer_.erase(0, at);
    return got;
  }
  void write(const std::string& bytes) {
    ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

 private:
  std::string path_;
  int listener_ = -1;
  int client_ = -1;
  std::string buffer_;
};

TEST(SsipSession, SpeaksEscapedDataAndTellsOnlyItsOwnEvents) {
  ScriptedDaemon daemon;
  std::mutex mutex;
  std::vector<std::pair<int, std::size_t>> events;
  std::string spokenData;
  std::thread script([&] {
    EXPECT_EQ(daemon.readUntil("\r\n"), "SET SELF CLIENT_NAME a:b:c\r\n");
    daemon.write("208 OK CLIENT NAME SET\r\n");
    EXPECT_EQ(daemon.readUntil("\r\n"), "HISTORY GET CLIENT_ID\r\n");
    daemon.write("245-7\r\n245 OK CLIENT ID SENT\r\n");
    EXPECT_EQ(daemon.readUntil("\r\n"), "SPEAK\r\n");
    daemon.write("230 OK RECEIVING DATA\r\n");
    spokenData = daemon.readUntil("\r\n.\r\n");
    // Another client's late event on this connection, then this client's.
    daemon.write("701-3\r\n701-9\r\n701 BEGIN\r\n701-5\r\n701-7\r\n701 BEGIN\r\n");
    daemon.write("225-5\r\n225 OK MESSAGE QUEUED\r\n");
    daemon.readUntil("CANCEL SELF\r\n");
    daemon.write("210 OK CANCELLED\r\n");
  });
  std::unique_ptr<SsipSession> session =
      SsipSession::open(daemon.address(), "a:b:c", [&](int code, std::size_t message) {
        std::lock_guard lock(mutex);
        events.emplace_back(code, message);
      });
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->speak(".a\r\nb\n."), std::optional<std::size_t>(5));
  session->close();
  script.join();
  // A leading dot is doubled, lines end in CRLF, a lone dot ends the data.
  EXPECT_EQ(spokenData, "..a\r\nb\r\n..\r\n.\r\n");
  std::lock_guard lock(mutex);
  EXPECT_EQ(events, (std::vector<std::pair<int, std::size_t>>{{701, 5}}));
}

TEST(SsipSession, AnUnansweredCommandGivesTheConnectionUpAfterCancellingItsSpeech) {
  ScriptedDaemon daemon;
  std::string cancelled;
  std::string after;
  std::thread script([&] {
    daemon.readUntil("\r\n");
    daemon.write("208 OK CLIENT NAME SET\r\n");
    daemon.readUntil("\r\n");
    daemon.write("245-7\r\n245 OK CLIENT ID SENT\r\n");
    daemon.readUntil("SET SELF PRIORITY MESSAGE\r\n");  // and no answer
    cancelled = daemon.readUntil("\r\n");
    after = daemon.readUntil("never sent");
  });
  std::unique_ptr<SsipSession> session = SsipSession::open(daemon.address(), "a:b:c", nullptr);
  ASSERT_NE(session, nullptr);
  const Clock::time_point asked = Clock::now();
  EXPECT_FALSE(session->command("SET SELF PRIORITY MESSAGE"));
  const double waited = msSince(asked);
  EXPECT_GE(waited, 1900.0);
  EXPECT_LT(waited, 2500.0);
  EXPECT_TRUE(session->broken());
  EXPECT_TRUE(session->timedOut());
  // Later calls fail at once.
  const Clock::time_point again = Clock::now();
  EXPECT_FALSE(session->speak("好").has_value());
  EXPECT_LT(msSince(again), 50.0);
  script.join();
  // What it queued is cancelled, then the connection ends.
  EXPECT_EQ(cancelled, "CANCEL SELF\r\n");
  EXPECT_EQ(after, "");
}

TEST(SsipSession, AnAnswerPastEveryLimitBreaksTheConnectionAtOnce) {
  ScriptedDaemon daemon;
  std::thread script([&] {
    daemon.readUntil("\r\n");
    daemon.write("208 OK CLIENT NAME SET\r\n");
    daemon.readUntil("\r\n");
    daemon.write("245-7\r\n245 OK CLIENT ID SENT\r\n");
    daemon.readUntil("CANCEL SELF\r\n");
    daemon.write(std::string(100 << 10, 'x'));  // a line without end
    daemon.readUntil("never sent");
  });
  std::unique_ptr<SsipSession> session = SsipSession::open(daemon.address(), "a:b:c", nullptr);
  ASSERT_NE(session, nullptr);
  const Clock::time_point asked = Clock::now();
  EXPECT_FALSE(session->command("CANCEL SELF"));
  EXPECT_LT(msSince(asked), 1000.0);
  EXPECT_TRUE(session->broken());
  EXPECT_FALSE(session->timedOut());
  session.reset();
  script.join();
}

}  // namespace
}  // namespace zandrel
