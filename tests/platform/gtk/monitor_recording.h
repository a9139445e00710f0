#pragma once
// Test support for the speech platform tests: parec on the private null
// sink's monitor (ZANDREL_TEST_MONITOR, set by speech_audio_run.py), each
// chunk stamped when it arrives, so that sound can be placed on the same
// clock as the calls the test made.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zandrel::test_support {

// parec on the null sink's monitor; each chunk is stamped when it arrives, so
// sound can be placed on the same clock as the calls made.
class MonitorRecording {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kRate = 16000;
  // Silence on a null sink's monitor is exact zeros; speech is far above this.
  static constexpr int kAudible = 64;

 public:
  struct Chunk {
    Clock::time_point arrived;
    std::vector<std::int16_t> samples;
  };

  MonitorRecording() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    readFd_ = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string device = "--device=" + monitorName();
    const std::string rate = "--rate=" + std::to_string(kRate);
    std::vector<std::string> args = {
        "parec", device, "--raw", "--format=s16le", "--channels=1", rate, "--latency-msec=10"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "parec", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    reader_ = std::thread([this] { readLoop(); });
    // The stream is connected and delivering silence by then.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  ~MonitorRecording() { stop(); }
  MonitorRecording(const MonitorRecording&) = delete;
  MonitorRecording& operator=(const MonitorRecording&) = delete;

  bool running() const { return pid_ > 0; }

  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (readFd_ >= 0) ::close(readFd_);
    readFd_ = -1;
  }

  std::vector<Chunk> chunks() {
    std::lock_guard lock(mutex_);
    return chunks_;
  }

  // When the last audible sample was played, on the test's clock; nullopt
  // when nothing audible was recorded.
  std::optional<Clock::time_point> lastAudible() {
    std::optional<Clock::time_point> last;
    for (const Chunk& c : chunks()) {
      for (std::size_t i = c.samples.size(); i-- > 0;) {
        if (std::abs(c.samples[i]) > kAudible) {
          last =
              c.arrived - std::chrono::microseconds((c.samples.size() - 1 - i) * 1000000 / kRate);
          break;
        }
      }
    }
    return last;
  }

  bool audibleBetween(Clock::time_point from, Clock::time_point to) {
    for (const Chunk& c : chunks()) {
      if (c.arrived < from || c.arrived > to) continue;
      for (std::int16_t s : c.samples) {
        if (std::abs(s) > kAudible) return true;
      }
    }
    return false;
  }

  // sox's RMS amplitude of everything recorded (0 for silence).
  double soxRms(const std::string& path) {
    {
      std::ofstream out(path, std::ios::binary);
      for (const Chunk& c : chunks()) {
        out.write(reinterpret_cast<const char*>(c.samples.data()),
                  static_cast<std::streamsize>(c.samples.size() * sizeof(std::int16_t)));
      }
    }
    const std::string command = "sox -t raw -r " + std::to_string(kRate) +
                                " -e signed -b 16 -c 1 '" + path + "' -n stat 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return -1;
    char line[256];
    while (std::fgets(line, sizeof(line), pipe.get()) != nullptr) {
      const std::string text = line;
      if (text.rfind("RMS", 0) == 0 && text.find("amplitude:") != std::string::npos) {
        return std::atof(text.substr(text.find(':') + 1).c_str());
      }
    }
    return -1;
  }

  // Milliseconds of audible sound in what arrived after `from`.
  double audibleMsAfter(Clock::time_point from) {
    std::size_t audible = 0;
    for (const Chunk& c : chunks()) {
      if (c.arrived < from) continue;
      for (std::int16_t s : c.samples) {
        if (std::abs(s) > kAudible) ++audible;
      }
    }
    return 1000.0 * static_cast<double>(audible) / kRate;
  }

  static std::string monitorName() {
    const char* name = std::getenv("ZANDREL_TEST_MONITOR");
    return name != nullptr ? name : "";
  }

 private:
  void readLoop() {
    std::vector<char> pending;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(readFd_, buffer, sizeof(buffer));
      if (n <= 0) break;
      const Clock::time_point now = Clock::now();
      pending.insert(pending.end(), buffer, buffer + n);
      Chunk chunk{now, std::vector<std::int16_t>(pending.size() / 2)};
      std::memcpy(chunk.samples.data(), pending.data(), chunk.samples.size() * 2);
      pending.erase(pending.begin(),
                    pending.begin() + static_cast<std::ptrdiff_t>(chunk.samples.size() * 2));
      std::lock_guard lock(mutex_);
      chunks_.push_back(std::move(chunk));
    }
  }

  pid_t pid_ = -1;
  int readFd_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<Chunk> chunks_;
};

}  // namespace zandrel::test_support
