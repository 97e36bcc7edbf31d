// The test helpers that are the same in both builds.
#include "tests/support/testing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/routes.h"
#include "platform/text.h"

namespace zemlik::test {

namespace fs = std::filesystem;

WString Utf16(const std::string& utf8) {
  WString out(utf8.size() + 1, 0);
  out.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), out.size()) - 1);
  return out;
}

namespace {

std::string Narrow(UINT codePage, const WString& text) {
  std::string out(3 * text.size() + 1, 0);
  const int n =
      WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), out.size(), nullptr, nullptr);
  return out.substr(0, n - 1);
}

std::string Text(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string Utf8(const WString& utf16) { return Narrow(CP_UTF8, utf16); }
std::string Cp932(const std::string& utf8) { return Narrow(CP_ACP, Utf16(utf8)); }

TempFolder::TempFolder() {
  static std::atomic<unsigned> count = 0;  // tests make folders from several threads
  for (fs::path folder; path_.empty();) {
    folder = fs::temp_directory_path() /
             ("zt-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
              "-" + std::to_string(++count));
    if (fs::create_directory(folder)) path_ = Text(folder);
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(fs::u8path(path_), ignored);
}

std::vector<std::string> TempFolder::List() const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::recursive_directory_iterator it(fs::u8path(path_), error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(Text(it->path().lexically_relative(fs::u8path(path_))));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return in ? std::optional<std::string>(bytes.str()) : std::nullopt;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  return static_cast<bool>(std::ofstream(fs::u8path(path), std::ios::binary) << bytes);
}

std::string SourceDir() { return ZEMLIK_SOURCE_DIR; }

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, '|');) words.push_back(word);
  return words;
}

namespace {

void Set(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value.value_or("").c_str());
#else
  value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedEnv::ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> variables) {
  for (const auto& [name, value] : variables) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    Set(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Set(it->first, it->second);
}

ScopedEnv ScopedEnv::NoProxy() {
  const auto unset = [](const char* name) { return std::pair(name, nullptr); };
  return ScopedEnv({unset("http_proxy"), unset("HTTP_PROXY"), unset("https_proxy"),
                    unset("HTTPS_PROXY"), unset("all_proxy"), unset("ALL_PROXY"), unset("no_proxy"),
                    unset("NO_PROXY")});
}

// The server runs behind a shell that writes its "PORT <n> CLOSED <m> FULL <k>" line to the file
// "port" and ends it once a file "stop" appears (or after 15 minutes, should the test die
// first); under wine a Unix process has no standard handles to talk through.
Server::Server(bool tls) : tls_(tls) {
  Clear();
  const std::string folder = HostPath(folder_.path());
  Spawn({"/bin/sh", "-c",
         "cd \"$1\"; shift; \"$@\" >port 2>&1 </dev/null & n=0; while [ ! -e stop ] && "
         "[ $n -lt 9000 ]; do sleep 0.1; n=$((n+1)); done; kill $!; : >stopped",
         "sh", folder, "python3", HostPath(SourceDir()) + "/tests/support/server.py", folder,
         tls ? "--tls" : ""});
  for (int waited = 0; port_ == 0 && waited < 30000; waited += 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::sscanf(ReadFileBytes(folder_.Join("port")).value_or("").c_str(),
                "PORT %d CLOSED %d FULL %d", &port_, &closedPort_, &fullPort_);
  }
}

Server::~Server() {
  WriteFileBytes(folder_.Join("stop"), "");
  for (int waited = 0; waited < 10000 && !ReadFileBytes(folder_.Join("stopped")); waited += 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string Server::Url(const std::string& target) const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + target;
}

void Server::Add(const std::string& path, const std::string& body, const std::string& options) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : body) hex += {digits[c >> 4], digits[c & 15]};
  routes_ += (routes_.empty() ? "{\"path\":\"" : ",{\"path\":\"") + path + "\",\"body\":\"" + hex +
             "\"" + (options.empty() ? "" : ",") + options + "}";
  // Written aside and renamed over, so that the server never reads half of it.
  WriteFileBytes(folder_.Join("routes.part"), "[" + routes_ + "]");
  std::error_code ignored;
  fs::rename(fs::u8path(folder_.Join("routes.part")), fs::u8path(folder_.Join("routes.json")),
             ignored);
}

void Server::Clear() {
  routes_.clear();
  WriteFileBytes(folder_.Join("routes.json"), "[]");
}

std::vector<Request> Server::Requests() const {
  std::vector<Request> requests;
  for (const std::string& name : folder_.List()) {
    if (!name.starts_with("requests/") || !name.ends_with(".bin")) continue;
    const std::string raw = ReadFileBytes(folder_.Join(name)).value_or("");
    requests.push_back({raw, raw.substr(0, raw.find("\r\n")),
                        raw.substr(std::min(raw.size(), raw.find("\r\n\r\n") + 4))});
  }
  return requests;
}

const std::string kComicPage =
    "<html><body>\r\n<p>全3件中 1～3件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
    "<li>12/05　　講談社　　海辺の図書館　第3巻　　青山ミナト　　\\450　　新刊　　</li>\r\n"
    "<li>12/12　　集英社　　星をかぞえる猫　　小川ひより　　\\420　　　　</li>\r\n"
    "<li>12/19　　小学館　　鉄路のむこう～前編　　北村サトシ　　\\550　　初回限定版あり　　"
    "</li>\r\n</ul></td></tr></table>\r\n</body></html>\r\n";
const std::string kComicCsv =
    "date,company,title,author,price,memo\r\n"
    "2008/12/05,講談社,海辺の図書館　第3巻,青山ミナト,450,新刊\r\n"
    "2008/12/12,集英社,星をかぞえる猫,小川ひより,420,\r\n"
    "2008/12/19,小学館,鉄路のむこう～前編,北村サトシ,550,初回限定版あり\r\n";
const std::string kBunkoPage =
    "<p>全2件中 1～2件を表示します。</p><table><tr><td><ul>\r\n"
    "<li>12/08　　新潮社　　新潮文庫　　古い港町の話　　川端ゆう　　\\590　　</li>\r\n"
    "<li>12/15　　講談社　　講談社文庫　　雨の日の探偵　　高木つばさ　　\\770　　</li>\r\n</"
    "table>\r\n";
const std::string kBunkoCsv =
    "date,company,category,title,author,price\r\n"
    "2008/12/08,新潮社,新潮文庫,古い港町の話,川端ゆう,590\r\n"
    "2008/12/15,講談社,講談社文庫,雨の日の探偵,高木つばさ,770\r\n";
const std::string kComicPath = "/comic/comic0812_listdate.html",
                  kBunkoPath = "/bunko/bunko0812_listdate.html",
                  kBooklistPath = "/review/kurodai/data/booklist/dec08.csv";
const std::string kBooklist =
    "発売日,出版社,書名\r\n12/05,講談社,海辺の図書館 3\r\n12/12,集英社,星をかぞえる猫\r\n";

}  // namespace zemlik::test
