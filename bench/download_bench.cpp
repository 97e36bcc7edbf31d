// GetUrlFile with "BIN" of a large body from a loopback server, next to `curl -o` of the
// same URL in the same run. Each download runs in a child process so that its wall time and
// peak resident memory (wait4's ru_maxrss) are its own.
//
// The server is tests/support/server.py serving a sparse file with sendfile(), so the
// kernel, not Python, moves the bytes; the client side is what is measured.
// ZEMLIK_BENCH_BODY_MIB sets the body size (default 512).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "http/charset.h"
#include "http/fetch.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  bool ok = false;
  double seconds = 0;
  double peakMiB = 0;
};

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The test server with one route, /body.bin, serving a sparse file of `bytes`.
class BodyServer {
 public:
  explicit BodyServer(long long bytes) {
    dir_ = fs::temp_directory_path() / ("zemlik-bench-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    fs::path body = dir_ / "body.bin";
    int fd = open(body.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, bytes) != 0) return;
    close(fd);
    std::ofstream(dir_ / "routes.json")
        << "[{\"path\": \"/body.bin\", \"body_file\": \"" << body.string() << "\"}]\n";

    fs::path source = fs::path(__FILE__).parent_path().parent_path();
    std::string script = (source / "tests/support/server.py").string();
    std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::string dir = dir_.string();
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {python.data(), script.data(), dir.data(), nullptr};
    if (posix_spawnp(&pid_, python.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    pollfd waiting{out[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&waiting, 1, 10000) > 0) {
      char buffer[64];
      ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got <= 0) break;
      line.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  }
  ~BodyServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  bool ok() const { return port_ > 0; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/body.bin"; }
  fs::path Output() const { return dir_ / "out.bin"; }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

Outcome Measure(pid_t child, std::chrono::steady_clock::time_point start) {
  Outcome outcome;
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  outcome.peakMiB = usage.ru_maxrss / 1024.0;  // KiB on Linux
  return outcome;
}

Outcome RunGetUrlFile(const BodyServer& server) {
  std::u16string url = Widen(server.Url());
  std::u16string output = Widen(server.Output().string());
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    int result =
        GetUrlFile(url.c_str(), u"", -1, nullptr, nullptr, u"GET", kCharsetBin, output.c_str());
    _exit(result == 0 ? 0 : 1);
  }
  return Measure(child, start);
}

Outcome RunCurl(const BodyServer& server) {
  std::string url = server.Url();
  std::string output = server.Output().string();
  char curl[] = "curl";
  char silent[] = "-s";
  char fail[] = "-f";
  char to[] = "-o";
  char* argv[] = {curl, silent, fail, to, output.data(), url.data(), nullptr};
  auto start = std::chrono::steady_clock::now();
  pid_t child = -1;
  if (posix_spawnp(&child, "curl", nullptr, nullptr, argv, environ) != 0) child = -1;
  return Measure(child, start);
}

void BM_DownloadBin(benchmark::State& state) {
  const char* mib = std::getenv("ZEMLIK_BENCH_BODY_MIB");
  long long bytes = (mib != nullptr ? std::atoll(mib) : 512) * 1024 * 1024;
  BodyServer server(bytes);
  if (!server.ok()) {
    state.SkipWithError("the fixture server did not start");
    return;
  }
  double ours = 0, theirs = 0, ourPeak = 0, theirPeak = 0;
  for (auto _ : state) {
    Outcome curl = RunCurl(server);
    std::error_code ignored;
    bool curlComplete = fs::file_size(server.Output(), ignored) == static_cast<uintmax_t>(bytes);
    fs::remove(server.Output(), ignored);
    Outcome get = RunGetUrlFile(server);
    bool getComplete = fs::file_size(server.Output(), ignored) == static_cast<uintmax_t>(bytes);
    fs::remove(server.Output(), ignored);
    if (!curl.ok || !get.ok || !curlComplete || !getComplete) {
      state.SkipWithError("a download failed");
      return;
    }
    state.SetIterationTime(get.seconds);
    ours += get.seconds;
    theirs += curl.seconds;
    ourPeak = std::max(ourPeak, get.peakMiB);
    theirPeak = std::max(theirPeak, curl.peakMiB);
  }
  double bodyMiB = bytes / (1024.0 * 1024.0);
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["GetUrlFile_s"] = ours / state.iterations();
  state.counters["curl_s"] = theirs / state.iterations();
  state.counters["time_ratio"] = ours / theirs;  // target <= 1.3
  state.counters["peak_MiB"] = ourPeak;
  state.counters["curl_peak_MiB"] = theirPeak;
  state.counters["peak_limit_MiB"] = 1.2 * bodyMiB + 16;
}

BENCHMARK(BM_DownloadBin)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
