// Starts and stops tests/support/fault_server.py; talks to it through files in a private
// temporary folder (fault and body in, requests/NNNNNN.bin out).
#include "tests/support/fault_server.h"

#include <unistd.h>

#include <algorithm>
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

std::string FaultServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string FaultServer::FaultUrl(const std::string& fault) const {
  return BaseUrl() + "/fault/" + fault;
}

void FaultServer::SetFault(const std::string& fault) { WriteState("fault", fault); }

void FaultServer::SetBody(const std::string& bytes) { WriteState("body", bytes); }

// Replaced in one rename, so the server never reads half a file.
void FaultServer::WriteState(const std::string& name, const std::string& bytes) const {
  const std::string part = dir_ + "/" + name + ".part";
  WriteFileBytes(part, bytes);
  std::rename(part.c_str(), (dir_ + "/" + name).c_str());
}

std::vector<std::string> FaultServer::Requests() const {
  std::vector<fs::path> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir_ + "/requests", error)) {
    if (entry.path().extension() == ".bin") names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> heads;
  for (const auto& name : names) heads.push_back(ReadFileBytes(name.string()).value_or(""));
  return heads;
}

std::string FaultServer::GzipSent() const { return ReadFileBytes(dir_ + "/gzip").value_or(""); }

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
