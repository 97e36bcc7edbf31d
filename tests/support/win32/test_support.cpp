// The shared test helpers on Windows: Win32 code. Under wine, the build's Unix paths
// (the binary, the sources) are reached through their DOS form.
#include "tests/support/test_support.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "tests/support/win32/host.h"

namespace zemlik::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  const std::wstring folder = NewTempFolder(L"zemlik-test-");
  if (folder.empty()) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "a temporary folder");
  }
  path_ = Narrow(folder);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(fs::path(Wide(path_)), ignored);
}

std::string TempFolder::Join(const std::string& relative) const {
  std::string native = relative;
  std::replace(native.begin(), native.end(), '/', '\\');
  return path_ + "\\" + native;
}

std::vector<std::string> TempFolder::List() const {
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path root(Wide(path_));
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    names.push_back(Narrow(fs::relative(it->path(), root).generic_wstring()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(fs::path(Wide(path)), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(fs::path(Wide(path)), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::path(Wide(path)), ec);
}

namespace {

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// This process's environment without any ZEMLIK_* variable, with `env` on top,
// as a sorted CREATE_UNICODE_ENVIRONMENT block. Names compare without case, as
// Windows compares them.
std::wstring ChildEnvironment(const std::map<std::string, std::string>& env) {
  std::map<std::wstring, std::wstring> entries;  // upper-case name -> "name=value"
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e != 0; e += wcslen(e) + 1) {
      const std::wstring entry = e;
      const size_t equals = entry.find(L'=', 1);
      const std::wstring name = Upper(entry.substr(0, equals));
      if (name.rfind(L"ZEMLIK_", 0) == 0) continue;
      entries[name] = entry;
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : env) entries[Upper(Wide(name))] = Wide(name + "=" + value);
  std::wstring result;
  for (const auto& [name, entry] : entries) {
    result += entry;
    result.push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

std::string ErrorText(const char* what) {
  return std::string(what) + " failed: error " + std::to_string(GetLastError());
}

void Drain(HANDLE pipe, std::string* sink) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) sink->append(chunk, got);
}

// Pipes and the child are made under one lock, so that no other child started at
// the same time inherits this child's pipe ends (and holds them open).
std::mutex& SpawnLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
  return RunProcessWithin(INFINITE, -1, program, args, env);
}

ProcessResult RunProcessWithin(DWORD milliseconds, int killedExitCode, const std::string& program,
                               const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env) {
  ProcessResult result;
  const std::wstring application = WindowsPath(program);
  std::wstring commandLine = QuoteWord(application);
  for (const std::string& arg : args) commandLine += L" " + QuoteWord(Wide(arg));
  std::wstring environment = ChildEnvironment(env);

  HANDLE outRead = nullptr;
  HANDLE errRead = nullptr;
  PROCESS_INFORMATION process{};
  {
    std::lock_guard<std::mutex> lock(SpawnLock());
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outWrite = nullptr;
    HANDLE errWrite = nullptr;
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) ||
        !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
      result.err = ErrorText("CreatePipe");
      return result;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    const BOOL started =
        CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &process);
    if (!started) result.err = ErrorText("CreateProcessW") + " for " + program;
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) {
      CloseHandle(outRead);
      CloseHandle(errRead);
      return result;
    }
  }
  CloseHandle(process.hThread);

  // Ending the child at its deadline also ends the pipes, and with them the draining.
  std::thread deadline([&process, milliseconds, killedExitCode] {
    if (WaitForSingleObject(process.hProcess, milliseconds) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, static_cast<UINT>(killedExitCode));
    }
  });
  // Drain both streams together so a child that fills one pipe never blocks.
  std::thread errReader(Drain, errRead, &result.err);
  Drain(outRead, &result.out);
  errReader.join();
  CloseHandle(outRead);
  CloseHandle(errRead);

  deadline.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) result.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hProcess);
  return result;
}

ProcessResult RunZemlik(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env) {
  return RunProcess(ZemlikBinary(), args, env);
}

}  // namespace zemlik::testing
