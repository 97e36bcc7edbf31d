// Code page 932 (CP_ACP) through glibc iconv, and CP_UTF8: generic POSIX code only.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/utf.h"
#include "platform/text.h"

namespace {

constexpr char16_t kDecodeReplacement932 = 0x30FB;  // KATAKANA MIDDLE DOT
constexpr char kDefaultChar = '?';

bool IsLeadByte932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// iconv descriptors are not safe to share between threads, and opening one is
// costly; each conversion borrows one and hands it back, so the cache holds as
// many as ever ran at once. It lives until the process ends so threads still
// converting at exit find it intact.
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
    std::lock_guard<std::mutex> lock(mutex_);
    free_[kind].push_back(cd);
  }

 private:
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
// caller's buffer. A count an int cannot report does not fit either.
template <class Unit>
class Sink {
 public:
  Sink(Unit* dst, int capacity) : dst_(dst), capacity_(capacity) {}

  // All n units, or nothing and false when they do not fit.
  bool Put(const Unit* units, std::size_t n) {
    const int limit = capacity_ == 0 ? INT_MAX : capacity_;
    if (n > static_cast<std::size_t>(limit - count_)) return false;
    if (capacity_ != 0) std::memcpy(dst_ + count_, units, sizeof(Unit) * n);
    count_ += static_cast<int>(n);
    return true;
  }

  int Result() const { return count_; }

 private:
  Unit* dst_;
  int capacity_;
  int count_ = 0;
};

// The length of the character at `at` in well-formed text of `left` units.
std::size_t WideLength(const WCHAR* at, std::size_t) {
  return *at >= 0xD800 && *at <= 0xDBFF ? 2 : 1;
}
std::size_t Length932(const char* at, std::size_t) {
  return IsLeadByte932(static_cast<unsigned char>(*at)) ? 2 : 1;
}
std::size_t Utf8Length(const char* at, std::size_t left) {
  char32_t c;
  return platform::DecodeUtf8(reinterpret_cast<const unsigned char*>(at), left, &c);
}

// Puts a run of whole characters in one copy when it fits. When it does not, what
// fits is put, cut before the first character that does not, and the conversion fails.
template <class Unit>
bool PutRun(Sink<Unit>* sink, const Unit* units, std::size_t n,
            std::size_t (*length)(const Unit* at, std::size_t left)) {
  if (sink->Put(units, n)) return true;
  // Ends within the run, since the run as a whole does not fit.
  for (std::size_t i = 0;;) {
    const std::size_t size = length(units + i, n - i);
    if (!sink->Put(units + i, size)) return false;
    i += size;
  }
}

// iconv is handed at most this much input per call. After an invalid or
// unmappable character glibc's converter does work in proportion to all the
// input it was given, so one call over the whole rest made a long text with
// many such characters quadratic.
constexpr std::size_t kIconvWindow = 4096;

// One bounded iconv call over the front of the input into `out`, which holds a
// window's output; *inLeft counts all the input still to convert. True when it
// stopped at a sequence that is invalid or cut by the input's end, *in left there.
bool StoppedAtInvalid(iconv_t cd, char** in, std::size_t* inLeft, char** out,
                      std::size_t* outLeft) {
  const std::size_t window = std::min(*inLeft, kIconvWindow);
  std::size_t windowLeft = window;
  const std::size_t r = iconv(cd, in, &windowLeft, out, outLeft);
  const int error = errno;
  *inLeft -= window - windowLeft;
  // A character cut by the window's edge is whole in the next window.
  return r == static_cast<std::size_t>(-1) && !(error == EINVAL && windowLeft < *inLeft);
}

bool Decode932(const char* src, std::size_t n, Sink<WCHAR>* sink) {
  Borrowed cd(DescriptorCache::kDecode932);
  if (!cd.ok()) return false;
  char* in = const_cast<char*>(src);
  std::size_t inLeft = n;
  char16_t chunk[kIconvWindow];  // a byte gives at most one unit
  while (inLeft > 0) {
    char* out = reinterpret_cast<char*>(chunk);
    std::size_t outLeft = sizeof chunk;
    const bool invalid = StoppedAtInvalid(cd.get(), &in, &inLeft, &out, &outLeft);
    if (!PutRun(sink, chunk, (sizeof chunk - outLeft) / sizeof(char16_t), WideLength)) return false;
    if (!invalid) continue;
    // One replacement per offending byte; the next byte starts afresh.
    if (!sink->Put(&kDecodeReplacement932, 1)) return false;
    ++in;
    --inLeft;
  }
  return true;
}

// The precomposed kana for `base` followed by U+3099 (voiced) or U+309A
// (semi-voiced), limited to those code page 932 has; 0 when there is none. Katakana
// compose as their hiragana do; a voiced form follows its base, a semi-voiced one
// comes two after it.
char16_t ComposeKana(char16_t base, char16_t mark) {
  static constexpr std::u16string_view kVoiced = u"かきくけこさしすせそたちつてとはひふへほゝ";
  static constexpr std::u16string_view kSemiVoiced = u"はひふへほ";
  const char16_t hiragana =
      base >= u'ァ' && base <= u'ヽ' ? static_cast<char16_t>(base - 0x60) : base;
  if (mark == 0x3099 && base == u'ウ') return u'ヴ';  // the hiragana one is not on the page
  if (mark == 0x3099 && kVoiced.find(hiragana) != kVoiced.npos) return base + 1;
  if (mark == 0x309A && kSemiVoiced.find(hiragana) != kSemiVoiced.npos) return base + 2;
  return 0;
}

struct EncodeState {
  Sink<char>* sink;
  const char* defaultChar;
  std::size_t defaultLength;
  bool usedDefault = false;
};

// UTF-16 units; whatever the page lacks becomes the default character, one per
// UTF-16 unit as the system's conversion counts (a character beyond U+FFFF, a
// surrogate pair, gives two).
bool EncodeRun932(iconv_t cd, const char16_t* units, std::size_t n, EncodeState* state) {
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(units));
  std::size_t inLeft = n * sizeof(char16_t);
  char chunk[kIconvWindow];  // a unit, two bytes, gives at most two
  while (inLeft > 0) {
    char* out = chunk;
    std::size_t outLeft = sizeof chunk;
    const bool invalid = StoppedAtInvalid(cd, &in, &inLeft, &out, &outLeft);
    if (!PutRun(state->sink, chunk, sizeof chunk - outLeft, Length932)) return false;
    if (!invalid) continue;
    state->usedDefault = true;
    if (!state->sink->Put(state->defaultChar, state->defaultLength)) return false;
    in += sizeof(char16_t);
    inLeft -= sizeof(char16_t);
  }
  return true;
}

bool Encode932(const char16_t* src, std::size_t n, bool compositeCheck, EncodeState* state) {
  Borrowed cd(DescriptorCache::kEncode932);
  if (!cd.ok()) return false;
  if (!compositeCheck) return EncodeRun932(cd.get(), src, n, state);
  std::u16string composed;
  composed.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t kana = i + 1 < n ? ComposeKana(src[i], src[i + 1]) : 0;
    composed.push_back(kana != 0 ? kana : src[i]);
    if (kana != 0) ++i;
  }
  return EncodeRun932(cd.get(), composed.data(), composed.size(), state);
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
    const std::u16string wide = platform::Utf8ToUtf16(std::string_view(src, n));
    ok = PutRun(&sink, wide.data(), wide.size(), WideLength);
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
    const std::string bytes = platform::Utf16ToUtf8(src, n);
    ok = PutRun(&sink, bytes.data(), bytes.size(), Utf8Length);
  } else {
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = state.usedDefault ? TRUE : FALSE;
  return ok ? sink.Result() : 0;
}
