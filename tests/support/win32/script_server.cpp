// A Python test server started from a Windows test under wine: the script runs as a
// Unix process (wine starts Unix programs named by their path). Wine hands such a
// process no standard handles, so the server's output, the request to stop and the
// word that it has stopped travel as files of a private folder: "stdout" (with the
// "PORT <n>" line), "stop" and "stopped". Arguments that name folders must be given
// in their Unix form (UnixPath).
#include "tests/support/script_server.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/support/win32/host.h"

namespace zemlik::testing {
namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 10000;

// The shell's part: start the server, end it when "stop" appears (or after 15
// minutes, should the test die before it stops the server), then say so. It keeps
// none of the test's own output streams open, which wine hands on to it.
constexpr char kLauncher[] =
    "exec >/dev/null 2>&1 </dev/null; dir=$1; shift; \"$@\" >\"$dir/stdout\" & p=$!; n=0; "
    "while [ ! -e \"$dir/stop\" ] && [ $n -lt 9000 ] && kill -0 $p 2>/dev/null; "
    "do sleep 0.1; n=$((n+1)); done; kill $p 2>/dev/null; wait $p; : >\"$dir/stopped\"";

// The private folder of each running server (the header keeps no room for it).
std::mutex& FoldersLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::map<const ScriptServer*, std::wstring>& Folders() {
  static auto* folders = new std::map<const ScriptServer*, std::wstring>;
  return *folders;
}

std::string ReadText(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

ScriptServer::ScriptServer(const std::string& script, const std::vector<std::string>& args) {
  const std::wstring folder = NewTempFolder(L"zemlik-server-");
  if (folder.empty()) return;
  const std::string unixFolder = UnixPath(folder);
  if (unixFolder.empty()) return;
  std::wstring commandLine = QuoteWord(WindowsPath("/bin/sh")) + L" -c " +
                             QuoteWord(Wide(kLauncher)) + L" sh " + QuoteWord(Wide(unixFolder)) +
                             L" /usr/bin/python3 " + QuoteWord(Wide(SourceDir() + "/" + script));
  for (const std::string& arg : args) commandLine += L" " + QuoteWord(Wide(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::filesystem::remove_all(std::filesystem::path(folder));
    return;
  }
  // A Unix process has no Windows handles (they are null).
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  child_ = 1;
  {
    std::lock_guard<std::mutex> lock(FoldersLock());
    Folders()[this] = folder;
  }
  for (int waited = 0; waited < kStartTimeoutMs; waited += 20) {
    const std::string line = ReadText(folder + L"\\stdout");
    if (line.find('\n') != std::string::npos) {
      if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
      break;
    }
    Sleep(20);
  }
}

void ScriptServer::Stop() {
  if (child_ <= 0) return;
  child_ = -1;
  std::wstring folder;
  {
    std::lock_guard<std::mutex> lock(FoldersLock());
    folder = Folders()[this];
    Folders().erase(this);
  }
  std::ofstream(std::filesystem::path(folder + L"\\stop"));
  for (int waited = 0; waited < kStopTimeoutMs && !Exists(folder + L"\\stopped"); waited += 20) {
    Sleep(20);
  }
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(folder), ignored);
}

}  // namespace zemlik::testing
