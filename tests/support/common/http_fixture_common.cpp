// The HTTP fixture's platform-neutral part: the routes file it writes and the
// request records it reads back. Starting the server and the temporary folder
// are each side's own (tests/support/http_fixture.cpp, tests/support/win32/).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/common/server_host.h"
#include "tests/support/http_fixture.h"

namespace {

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

std::string ReadFile(const std::filesystem::path& path) {
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
    if (!r.basic.empty()) json << ", \"basic\": " << JsonString(r.basic);
    json << ", \"chunked\": " << r.chunked << ", \"no_length\": " << (r.noLength ? "true" : "false")
         << ", \"break_after\": " << r.breakAfter << ", \"stall_after\": " << r.stallAfter
         << ", \"hang\": " << (r.hang ? "true" : "false") << "}";
  }
  json << "\n]\n";
  // Written aside and renamed over, so the server never reads half a file.
  std::string part = dir_ + "/routes.json.part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << json.str();
  }
  zemlik::testing::RenameOver(part, dir_ + "/routes.json");
}

std::vector<HttpRecord> HttpFixture::Requests() const {
  std::vector<std::filesystem::path> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/requests", error)) {
    if (entry.path().extension() == ".bin") names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  std::vector<HttpRecord> records;
  for (const auto& name : names) records.push_back(Parse(ReadFile(name)));
  return records;
}

ScopedNoProxy::ScopedNoProxy()
    : vars_{{"http_proxy", nullptr},  {"HTTP_PROXY", nullptr}, {"https_proxy", nullptr},
            {"HTTPS_PROXY", nullptr}, {"all_proxy", nullptr},  {"ALL_PROXY", nullptr},
            {"no_proxy", nullptr},    {"NO_PROXY", nullptr}} {}
