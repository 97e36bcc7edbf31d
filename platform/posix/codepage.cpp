// Code page 932 (CP_ACP) through glibc iconv, and CP_UTF8: generic POSIX code only.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/utf.h"
#include "platform/text.h"

namespace {

constexpr char16_t kDecodeReplacement932 = 0x30FB;  // KATAKANA MIDDLE DOT
constexpr char16_t kDecodeReplacementUtf8 = 0xFFFD;
constexpr char kDefaultChar = '?';

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsLeadByte932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// iconv descriptors are not safe to share between threads, and opening one is
// costly; each conversion borrows one and hands it back. The cache lives until
// the process ends so threads still converting at exit find it intact.
class DescriptorCache {
 public:
  enum Kind { kDecode932, kEncode932, kKinds };

  iconv_t Take(Kind kind) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_[kind].empty()) {
        iconv_t cd = free_[kind].back();
        free_[kind].pop_back();
        return cd;
      }
    }
    constexpr bool kLittle = std::endian::native == std::endian::little;
    const char* utf16 = kLittle ? "UTF-16LE" : "UTF-16BE";
    return kind == kDecode932 ? iconv_open(utf16, "CP932") : iconv_open("CP932", utf16);
  }

  void Give(Kind kind, iconv_t cd) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (free_[kind].size() < kKeptPerKind) {
        free_[kind].push_back(cd);
        return;
      }
    }
    iconv_close(cd);
  }

 private:
  static constexpr std::size_t kKeptPerKind = 4;
  std::mutex mutex_;
  std::vector<iconv_t> free_[kKinds];
};

DescriptorCache& Cache() {
  static DescriptorCache* cache = new DescriptorCache;
  return *cache;
}

class Borrowed {
 public:
  explicit Borrowed(DescriptorCache::Kind kind) : kind_(kind), cd_(Cache().Take(kind)) {}
  ~Borrowed() {
    if (ok()) Cache().Give(kind_, cd_);
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  DescriptorCache::Kind kind_;
  iconv_t cd_;
};

// Where converted units go: counted only (capacity 0), or copied into the
// caller's buffer whole characters at a time until one does not fit.
template <class Unit>
class Sink {
 public:
  Sink(Unit* dst, int capacity) : dst_(dst), capacity_(capacity) {}

  // One character of `length` units. False once the buffer is full.
  bool Put(const Unit* units, int length) {
    if (capacity_ == 0) {
      if (length > INT_MAX - count_) {  // a size an int cannot report
        full_ = true;
        return false;
      }
      count_ += length;
      return true;
    }
    if (length > capacity_ - count_) {
      full_ = true;
      return false;
    }
    std::memcpy(dst_ + count_, units, sizeof(Unit) * static_cast<std::size_t>(length));
    count_ += length;
    return true;
  }
  bool Put(Unit unit) { return Put(&unit, 1); }

  // Several whole characters at once; false, with nothing taken, when they do
  // not all fit (the caller then puts them one character at a time).
  bool PutRun(const Unit* units, std::size_t n) {
    if (full_ || n > static_cast<std::size_t>(INT_MAX - count_)) return false;
    const int length = static_cast<int>(n);
    if (capacity_ != 0) {
      if (length > capacity_ - count_) return false;
      std::memcpy(dst_ + count_, units, sizeof(Unit) * n);
    }
    count_ += length;
    return true;
  }

  int Result() const { return full_ ? 0 : count_; }

 private:
  Unit* dst_;
  int capacity_;
  int count_ = 0;
  bool full_ = false;
};

// iconv hands out whole characters, so a run that fits is taken in one copy;
// only a run that would overflow the buffer is cut character by character.
bool PutWideUnits(Sink<WCHAR>* sink, const char16_t* units, std::size_t n) {
  if (sink->PutRun(units, n)) return true;
  for (std::size_t i = 0; i < n;) {
    int length = IsHighSurrogate(units[i]) && i + 1 < n && IsLowSurrogate(units[i + 1]) ? 2 : 1;
    if (!sink->Put(units + i, length)) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

bool PutBytes932(Sink<char>* sink, const char* bytes, std::size_t n) {
  if (sink->PutRun(bytes, n)) return true;
  for (std::size_t i = 0; i < n;) {
    int length = IsLeadByte932(static_cast<unsigned char>(bytes[i])) && i + 1 < n ? 2 : 1;
    if (!sink->Put(bytes + i, length)) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

// iconv is handed at most this much input per call. After an invalid or
// unmappable character glibc's converter does work in proportion to all the
// input it was given, so one call over the whole rest made a long text with
// many such characters quadratic.
constexpr std::size_t kIconvWindow = 4096;

enum class Step { kGoOn, kInvalid, kFailed };

// One bounded iconv call over the front of the input; *inLeft counts all the
// input still to convert. kInvalid leaves *in at the offending sequence.
Step ConvertWindow(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
  const std::size_t window = std::min(*inLeft, kIconvWindow);
  std::size_t windowLeft = window;
  const std::size_t r = iconv(cd, in, &windowLeft, out, outLeft);
  const int error = errno;
  *inLeft -= window - windowLeft;
  if (r != static_cast<std::size_t>(-1) || error == E2BIG) return Step::kGoOn;
  // A character cut by the window's edge is whole in the next window.
  if (error == EINVAL && windowLeft < *inLeft) return Step::kGoOn;
  if (error == EILSEQ || error == EINVAL) return Step::kInvalid;
  return Step::kFailed;
}

bool Decode932(const char* src, std::size_t n, Sink<WCHAR>* sink) {
  Borrowed cd(DescriptorCache::kDecode932);
  if (!cd.ok()) return false;
  char* in = const_cast<char*>(src);
  std::size_t inLeft = n;
  char16_t chunk[4096];
  while (inLeft > 0) {
    char* out = reinterpret_cast<char*>(chunk);
    std::size_t outLeft = sizeof chunk;
    Step step = ConvertWindow(cd.get(), &in, &inLeft, &out, &outLeft);
    if (!PutWideUnits(sink, chunk, (sizeof chunk - outLeft) / sizeof(char16_t))) return false;
    if (step == Step::kGoOn) continue;
    if (step == Step::kFailed) return false;
    // One replacement per offending byte; the next byte starts afresh.
    if (!sink->Put(kDecodeReplacement932)) return false;
    ++in;
    --inLeft;
  }
  return true;
}

bool DecodeUtf8(const char* src, std::size_t n, Sink<WCHAR>* sink) {
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  for (std::size_t i = 0; i < n;) {
    char32_t c;
    std::size_t length = platform::DecodeUtf8(s + i, n - i, &c);
    if (length == 0) {
      c = kDecodeReplacementUtf8;
      length = 1;
    }
    i += length;
    if (c >= 0x10000) {
      const WCHAR pair[2] = {static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10)),
                             static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF))};
      if (!sink->Put(pair, 2)) return false;
    } else if (!sink->Put(static_cast<WCHAR>(c))) {
      return false;
    }
  }
  return true;
}

// The precomposed kana for `base` followed by U+3099 (voiced) or U+309A
// (semi-voiced), limited to those code page 932 has; 0 when there is none.
char16_t ComposeKana(char16_t base, char16_t mark) {
  // Katakana compose as their hiragana do.
  const char16_t hiragana =
      base >= 0x30A1 && base <= 0x30F6 ? static_cast<char16_t>(base - 0x60) : base;
  if (mark == 0x3099) {
    // か..ぢ pair up on even and odd code points, つ..ど on the other parity.
    if ((hiragana >= 0x304B && hiragana <= 0x3061 && hiragana % 2 == 1) ||
        (hiragana >= 0x3064 && hiragana <= 0x3068 && hiragana % 2 == 0) ||
        (hiragana >= 0x306F && hiragana <= 0x307B && (hiragana - 0x306F) % 3 == 0)) {
      return static_cast<char16_t>(base + 1);
    }
    if (base == 0x30A6) return 0x30F4;  // ウ -> ヴ (the hiragana one is not on the page)
    if (base == 0x309D || base == 0x30FD) return static_cast<char16_t>(base + 1);  // ゝ ヽ
    return 0;
  }
  if (mark == 0x309A && hiragana >= 0x306F && hiragana <= 0x307B && (hiragana - 0x306F) % 3 == 0) {
    return static_cast<char16_t>(base + 2);
  }
  return 0;
}

struct EncodeState {
  Sink<char>* sink;
  const char* defaultChar;
  int defaultLength;
  bool usedDefault = false;
};

bool PutDefault(EncodeState* state) {
  state->usedDefault = true;
  return state->sink->Put(state->defaultChar, state->defaultLength);
}

// A run of UTF-16 units; whatever the page lacks becomes the default
// character, one per UTF-16 unit as the system's conversion counts (a character
// beyond U+FFFF, a surrogate pair, gives two).
bool EncodeRun932(iconv_t cd, const char16_t* units, std::size_t n, EncodeState* state) {
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(units));
  std::size_t inLeft = n * sizeof(char16_t);
  char chunk[8192];
  while (inLeft > 0) {
    char* out = chunk;
    std::size_t outLeft = sizeof chunk;
    Step step = ConvertWindow(cd, &in, &inLeft, &out, &outLeft);
    if (!PutBytes932(state->sink, chunk, sizeof chunk - outLeft)) return false;
    if (step == Step::kGoOn) continue;
    if (step == Step::kFailed) return false;
    if (!PutDefault(state)) return false;
    in += sizeof(char16_t);
    inLeft -= sizeof(char16_t);
  }
  return true;
}

bool Encode932(const char16_t* src, std::size_t n, bool compositeCheck, EncodeState* state) {
  Borrowed cd(DescriptorCache::kEncode932);
  if (!cd.ok()) return false;
  std::size_t runStart = 0;
  for (std::size_t i = 0; compositeCheck && i + 1 < n; ++i) {
    char16_t composed = ComposeKana(src[i], src[i + 1]);
    if (composed == 0) continue;
    if (!EncodeRun932(cd.get(), src + runStart, i - runStart, state) ||
        !EncodeRun932(cd.get(), &composed, 1, state)) {
      return false;
    }
    runStart = i + 2;
    ++i;
  }
  return EncodeRun932(cd.get(), src + runStart, n - runStart, state);
}

bool EncodeUtf8(const char16_t* src, std::size_t n, EncodeState* state) {
  std::string bytes;
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = src[i];
    if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(src[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[++i] - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;
      state->usedDefault = true;
    }
    bytes.clear();
    platform::AppendUtf8(c, &bytes);
    if (!state->sink->Put(bytes.data(), static_cast<int>(bytes.size()))) return false;
  }
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstSize) {
  if (src == nullptr || srcLength == 0 || srcLength < -1 || dstSize < 0 ||
      (dstSize > 0 && dst == nullptr)) {
    return 0;
  }
  std::size_t n = srcLength == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLength);
  Sink<WCHAR> sink(dst, dstSize);
  bool ok;
  if (codePage == CP_ACP) {
    ok = Decode932(src, n, &sink);
  } else if (codePage == CP_UTF8) {
    ok = DecodeUtf8(src, n, &sink);
  } else {
    return 0;
  }
  return ok ? sink.Result() : 0;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
  if (src == nullptr || srcLength == 0 || srcLength < -1 || dstSize < 0 ||
      (dstSize > 0 && dst == nullptr)) {
    return 0;
  }
  std::size_t n = srcLength == -1 ? wcslen(src) + 1 : static_cast<std::size_t>(srcLength);
  Sink<char> sink(dst, dstSize);
  EncodeState state{&sink, &kDefaultChar, 1};
  if (defaultChar != nullptr && defaultChar[0] != 0) {
    state.defaultChar = defaultChar;
    state.defaultLength =
        IsLeadByte932(static_cast<unsigned char>(defaultChar[0])) && defaultChar[1] != 0 ? 2 : 1;
  }
  bool ok;
  if (codePage == CP_ACP) {
    ok = Encode932(src, n, (flags & WC_COMPOSITECHECK) != 0, &state);
  } else if (codePage == CP_UTF8) {
    if (defaultChar != nullptr || usedDefaultChar != nullptr) return 0;
    ok = EncodeUtf8(src, n, &state);
  } else {
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = state.usedDefault ? TRUE : FALSE;
  return ok ? sink.Result() : 0;
}
