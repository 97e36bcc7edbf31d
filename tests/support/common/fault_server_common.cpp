// The fault server's state files and request records, the same on both sides.
#include <algorithm>
#include <filesystem>

#include "tests/support/common/server_host.h"
#include "tests/support/fault_server.h"

namespace zemlik::testing {

namespace fs = std::filesystem;

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
  RenameOver(part, dir_ + "/" + name);
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

}  // namespace zemlik::testing
