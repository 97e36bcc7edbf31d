// tests/support/http_fixture.py started from a Windows test under wine: the script
// runs as a Unix process (wine starts Unix programs named by their path), and the two
// sides talk only through files in the fixture's folder, which both can reach:
// routes.json and requests/NNNNNN.bin as on POSIX, and for the process itself
// "stdout" (the "PORT <n>" line), "stop" (made by the destructor) and "stopped".
// Wine passes no standard handles to a Unix process, hence the files.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "tests/support/http_fixture.h"
#include "tests/support/win32/host.h"

using zemlik::testing::Narrow;
using zemlik::testing::QuoteWord;
using zemlik::testing::UnixPath;
using zemlik::testing::Wide;
using zemlik::testing::WindowsPath;

namespace {

constexpr int kStartTimeoutMs = 30000;

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

HttpRecord Parse(std::string raw) {
  HttpRecord record;
  record.raw = std::move(raw);
  size_t headEnd = record.raw.find("\r\n\r\n");
  std::string head = record.raw.substr(0, headEnd);
  if (headEnd != std::string::npos) record.body = record.raw.substr(headEnd + 4);
  size_t begin = 0;
  bool first = true;
  while (begin <= head.size()) {
    size_t end = head.find("\r\n", begin);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(begin, end - begin);
    if (first) {
      record.requestLine = line;
      first = false;
    } else if (size_t colon = line.find(':'); colon != std::string::npos) {
      size_t value = line.find_first_not_of(' ', colon + 1);
      record.headers.emplace_back(line.substr(0, colon),
                                  value == std::string::npos ? "" : line.substr(value));
    }
    begin = end + 2;
  }
  return record;
}

}  // namespace

std::optional<std::string> HttpRecord::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (Lower(key) == Lower(name)) return value;
  }
  return std::nullopt;
}


namespace {

// The shell's part: start the server, end it when "stop" appears (or after 15
// minutes, should the test die without its destructor), then say so.
constexpr char kLauncher[] =
    "exec 2>/dev/null; dir=$1; shift; \"$@\" >\"$dir/stdout\" 2>/dev/null & p=$!; n=0; "
    "while [ ! -e \"$dir/stop\" ] && [ $n -lt 9000 ] && kill -0 $p 2>/dev/null; "
    "do sleep 0.1; n=$((n+1)); done; kill $p 2>/dev/null; wait $p; : >\"$dir/stopped\"";

constexpr int kStopTimeoutMs = 10000;

}  // namespace

HttpFixture::HttpFixture(Options options) : options_(options) {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return;
  static unsigned counter = 0;
  std::wstring folder;
  for (int attempt = 0; attempt < 1000 && folder.empty(); ++attempt) {
    wchar_t name[64];
    swprintf(name, 64, L"zemlik-http-%08lx%04x", GetCurrentProcessId() ^ GetTickCount(),
             ++counter & 0xFFFF);
    if (CreateDirectoryW((std::wstring(base) + name).c_str(), nullptr)) {
      folder = std::wstring(base) + name;
    }
  }
  if (folder.empty()) return;
  dir_ = Narrow(folder);
  WriteRoutes();
  const std::string unixDir = UnixPath(folder);
  if (unixDir.empty()) return;

  const std::string script = std::string(ZEMLIK_SOURCE_DIR) + "/tests/support/http_fixture.py";
  std::wstring commandLine = QuoteWord(WindowsPath("/bin/sh")) + L" -c " +
                             QuoteWord(Wide(kLauncher)) + L" sh " + QuoteWord(Wide(unixDir)) +
                             L" /usr/bin/python3 " + QuoteWord(Wide(script)) + L" " +
                             QuoteWord(Wide(unixDir));
  if (options_.tls) commandLine += L" --tls";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return;
  }
  // A Unix process has no Windows handles to close (they are null).
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  child_ = 1;

  for (int waited = 0; waited < kStartTimeoutMs; waited += 20) {
    const std::string line = ReadWhole(Wide(dir_ + "/stdout"));
    if (line.find('\n') != std::string::npos) {
      if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
      break;
    }
    Sleep(20);
  }
}

HttpFixture::~HttpFixture() {
  if (child_ > 0) {
    std::ofstream(std::filesystem::path(Wide(dir_ + "/stop")));
    for (int waited = 0; waited < kStopTimeoutMs; waited += 20) {
      if (GetFileAttributesW(Wide(dir_ + "/stopped").c_str()) != INVALID_FILE_ATTRIBUTES) break;
      Sleep(20);
    }
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(dir_)), ignored);
  }
}

std::string HttpFixture::BaseUrl() const {
  return std::string(options_.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void HttpFixture::Route(const HttpRoute& route) {
  routes_.push_back(route);
  WriteRoutes();
}

void HttpFixture::ClearRoutes() {
  routes_.clear();
  WriteRoutes();
}

void HttpFixture::WriteRoutes() const {
  if (dir_.empty()) return;
  std::ostringstream json;
  json << "[";
  for (size_t i = 0; i < routes_.size(); ++i) {
    const HttpRoute& r = routes_[i];
    json << (i ? ",\n" : "\n") << "{\"path\": " << JsonString(r.path)
         << ", \"host\": " << JsonString(r.host) << ", \"status\": " << r.status
         << ", \"reason\": " << JsonString(r.reason) << ", \"headers\": [";
    for (size_t h = 0; h < r.headers.size(); ++h) {
      json << (h ? ", " : "") << "[" << JsonString(r.headers[h].first) << ", "
           << JsonString(r.headers[h].second) << "]";
    }
    json << "], \"body_hex\": \"" << Hex(r.body) << "\", \"repeat\": " << r.repeat;
    if (!r.bodyFile.empty()) json << ", \"body_file\": " << JsonString(r.bodyFile);
    json << ", \"chunked\": " << r.chunked << ", \"no_length\": " << (r.noLength ? "true" : "false")
         << ", \"break_after\": " << r.breakAfter << ", \"stall_after\": " << r.stallAfter
         << ", \"hang\": " << (r.hang ? "true" : "false") << "}";
  }
  json << "\n]\n";
  // Replaced in one rename, so the server never reads half a file.
  std::string part = dir_ + "/routes.json.part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << json.str();
  }
  MoveFileExW(Wide(part).c_str(), Wide(dir_ + "/routes.json").c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::vector<HttpRecord> HttpFixture::Requests() const {
  std::vector<std::filesystem::path> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/requests", error)) {
    if (entry.path().extension() == ".bin") names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  std::vector<HttpRecord> records;
  for (const auto& name : names) records.push_back(Parse(ReadWhole(name)));
  return records;
}

int HttpFixture::UnusedPort() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return -1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  int port = -1;
  // Bound but never listening: connections to it are refused while it is held, and after
  // close the kernel hands ephemeral ports out in sequence, not straight back.
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  closesocket(s);
  return port;
}

namespace {

// WinINet takes its proxy from the user's Internet Settings, and wine's also from
// http_proxy as the process saw it at its first InternetOpenW; a change made later
// within the process reaches it only through the former. So on Windows a scoped
// http_proxy is also the Internet Settings proxy for the scope: ProxyEnable and
// ProxyServer ("host:port") under this key, put back afterwards.
constexpr wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct ProxySetting {
  std::optional<DWORD> enable;
  std::optional<std::wstring> server;
};

ProxySetting ReadProxySetting() {
  ProxySetting setting;
  DWORD enable = 0;
  DWORD size = sizeof enable;
  if (RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", RRF_RT_REG_DWORD,
                   nullptr, &enable, &size) == ERROR_SUCCESS) {
    setting.enable = enable;
  }
  wchar_t server[512];
  size = sizeof server;
  if (RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", RRF_RT_REG_SZ, nullptr,
                   server, &size) == ERROR_SUCCESS) {
    setting.server = server;
  }
  return setting;
}

void WriteProxySetting(const ProxySetting& setting) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (setting.enable) {
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&*setting.enable), sizeof(DWORD));
  } else {
    RegDeleteValueW(key, L"ProxyEnable");
  }
  if (setting.server) {
    RegSetValueExW(key, L"ProxyServer", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(setting.server->c_str()),
                   static_cast<DWORD>((setting.server->size() + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, L"ProxyServer");
  }
  RegCloseKey(key);
}

// "host:port" of a proxy URL such as "http://user:pw@127.0.0.1:8080/".
std::wstring ProxyServer(const std::string& url) {
  std::string rest = url;
  if (size_t scheme = rest.find("://"); scheme != std::string::npos) rest.erase(0, scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (size_t at = rest.rfind('@'); at != std::string::npos) rest.erase(0, at + 1);
  return Wide(rest);
}

bool IsHttpProxy(const std::string& name) { return _stricmp(name.c_str(), "http_proxy") == 0; }

// The setting each live ScopedEnvVar of http_proxy found, to be put back.
std::map<const ScopedEnvVar*, ProxySetting>& SavedProxySettings() {
  static auto* saved = new std::map<const ScopedEnvVar*, ProxySetting>;
  return *saved;
}

}  // namespace

ScopedEnvVar::ScopedEnvVar(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  // Windows keeps no empty variables: an empty value removes the variable.
  _putenv_s(name, value != nullptr ? value : "");
  if (IsHttpProxy(name_)) {
    SavedProxySettings()[this] = ReadProxySetting();
    ProxySetting scoped;
    scoped.enable = value != nullptr && *value != 0 ? 1 : 0;
    if (*scoped.enable) scoped.server = ProxyServer(value);
    WriteProxySetting(scoped);
  }
}

ScopedEnvVar::~ScopedEnvVar() {
  _putenv_s(name_.c_str(), old_ ? old_->c_str() : "");
  if (IsHttpProxy(name_)) {
    auto& saved = SavedProxySettings();
    WriteProxySetting(saved[this]);
    saved.erase(this);
  }
}

ScopedNoProxy::ScopedNoProxy()
    : vars_{{"http_proxy", nullptr},  {"HTTP_PROXY", nullptr}, {"https_proxy", nullptr},
            {"HTTPS_PROXY", nullptr}, {"all_proxy", nullptr},  {"ALL_PROXY", nullptr},
            {"no_proxy", nullptr},    {"NO_PROXY", nullptr}} {}
