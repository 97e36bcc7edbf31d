// Starts and stops tests/support/fault_server.py; talks to it through files in a private
// temporary folder (fault and body in, requests/NNNNNN.bin out): POSIX code.
#include "tests/support/fault_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace zemlik::testing {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

FaultServer::FaultServer() {
  std::string base = fs::temp_directory_path().string() + "/zemlik-faults-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) return;
  dir_ = base;

  server_ = std::make_unique<ScriptServer>("tests/support/fault_server.py",
                                           std::vector<std::string>{dir_});
  port_ = server_->port();
}

FaultServer::~FaultServer() {
  if (server_) server_->Stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
}

ProcessResult RunZemlikWithin(int seconds, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env) {
  const char* wrapperText = std::getenv("ZEMLIK_TEST_WRAPPER");
  const std::vector<std::string> wrapper = Words(wrapperText != nullptr ? wrapperText : "");
  const int limit = wrapper.empty() ? seconds : 10 * seconds;
  std::vector<std::string> command = {"--signal=KILL", std::to_string(limit)};
  command.insert(command.end(), wrapper.begin(), wrapper.end());
  command.push_back(ZemlikBinary());
  command.insert(command.end(), args.begin(), args.end());
  return RunProcess("/usr/bin/timeout", command, env);
}

}  // namespace zemlik::testing
