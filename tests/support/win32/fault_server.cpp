// Starts and stops tests/support/fault_server.py from a Windows test: the server runs as a
// Unix process (ScriptServer) and is given its folder in Unix form; the test reaches the
// same folder by its Windows path.
#include "tests/support/fault_server.h"

#include <windows.h>

#include <filesystem>

#include "tests/support/win32/host.h"

namespace zemlik::testing {

FaultServer::FaultServer() {
  const std::wstring folder = NewTempFolder(L"zemlik-faults-");
  if (folder.empty()) return;
  dir_ = Narrow(folder);
  const std::string unixFolder = UnixPath(folder);
  if (unixFolder.empty()) return;
  server_ = std::make_unique<ScriptServer>("tests/support/fault_server.py",
                                           std::vector<std::string>{unixFolder});
  port_ = server_->port();
}

FaultServer::~FaultServer() {
  if (server_) server_->Stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(dir_)), ignored);
  }
}

ProcessResult RunZemlikWithin(int seconds, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env) {
  return RunProcessWithin(static_cast<DWORD>(seconds) * 1000, kKilledAtDeadline, ZemlikBinary(),
                          args, env);
}

}  // namespace zemlik::testing
