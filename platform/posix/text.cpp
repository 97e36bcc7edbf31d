// Wide strings, decimal parsing and bounded wide formatting: generic POSIX code only.
#include "platform/text.h"

#include <cstdarg>

SIZE_T wcslen(LPCWSTR s) {
  SIZE_T n = 0;
  while (s[n] != 0) ++n;
  return n;
}

LPWSTR wcscpy(LPWSTR dst, LPCWSTR src) {
  SIZE_T i = 0;
  while ((dst[i] = src[i]) != 0) ++i;
  return dst;
}

LPWSTR wcsncpy(LPWSTR dst, LPCWSTR src, SIZE_T count) {
  SIZE_T i = 0;
  for (; i < count && src[i] != 0; ++i) dst[i] = src[i];
  for (; i < count; ++i) dst[i] = 0;
  return dst;
}

int wcscmp(LPCWSTR a, LPCWSTR b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int wcsncmp(LPCWSTR a, LPCWSTR b, SIZE_T count) {
  for (SIZE_T i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

int _wtoi(LPCWSTR s) {
  while (*s == u' ' || (*s >= u'\t' && *s <= u'\r')) ++s;
  bool negative = false;
  if (*s == u'+' || *s == u'-') negative = *s++ == u'-';
  std::uint32_t value = 0;
  for (; *s >= u'0' && *s <= u'9'; ++s) value = value * 10u + static_cast<std::uint32_t>(*s - u'0');
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

namespace {

// Writes into dst[0..capacity-1) and remembers whether anything was cut.
class BoundedWriter {
 public:
  BoundedWriter(LPWSTR dst, SIZE_T cchDest) : dst_(dst), limit_(cchDest - 1) {}

  void Put(WCHAR c) {
    if (length_ < limit_) {
      dst_[length_++] = c;
    } else {
      cut_ = true;
    }
  }
  void Repeat(WCHAR c, SIZE_T count) {
    for (SIZE_T i = 0; i < count && !cut_; ++i) Put(c);
  }
  bool cut() const { return cut_; }
  HRESULT Finish() {
    dst_[length_] = 0;
    return cut_ ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
  }
  void Clear() { length_ = 0; }

 private:
  LPWSTR dst_;
  SIZE_T limit_;
  SIZE_T length_ = 0;
  bool cut_ = false;
};

// One number: optional sign, digits of `magnitude` in `base`, padded to `width`
// with zeros after the sign, or with blanks before it.
void PutNumber(BoundedWriter* out, bool negative, std::uint32_t magnitude, unsigned base,
               bool zeroPad, SIZE_T width) {
  WCHAR digits[16];
  SIZE_T count = 0;
  do {
    unsigned d = magnitude % base;
    digits[count++] = static_cast<WCHAR>(d < 10 ? u'0' + d : u'a' + (d - 10));
    magnitude /= base;
  } while (magnitude != 0);
  SIZE_T length = count + (negative ? 1 : 0);
  SIZE_T pad = width > length ? width - length : 0;
  if (!zeroPad) out->Repeat(u' ', pad);
  if (negative) out->Put(u'-');
  if (zeroPad) out->Repeat(u'0', pad);
  while (count > 0) out->Put(digits[--count]);
}

}  // namespace

HRESULT StringCchPrintfW(LPWSTR dst, SIZE_T cchDest, LPCWSTR format, ...) {
  constexpr SIZE_T kMaxCch = 2147483647;
  if (dst == nullptr || cchDest == 0 || cchDest > kMaxCch) return STRSAFE_E_INVALID_PARAMETER;
  BoundedWriter out(dst, cchDest);
  if (format == nullptr) {
    out.Finish();
    return STRSAFE_E_INVALID_PARAMETER;
  }
  va_list args;
  va_start(args, format);
  HRESULT result = S_OK;
  for (LPCWSTR p = format; *p != 0 && !out.cut(); ++p) {
    if (*p != u'%') {
      out.Put(*p);
      continue;
    }
    ++p;
    bool zeroPad = false;
    if (*p == u'0') {
      zeroPad = true;
      ++p;
    }
    SIZE_T width = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) {
      // Any wider field is cut by the buffer's limit anyway.
      if (width < kMaxCch) width = width * 10 + static_cast<SIZE_T>(*p - u'0');
    }
    if (*p == u's') {
      LPCWSTR s = va_arg(args, LPCWSTR);
      if (s == nullptr) s = u"(null)";
      SIZE_T length = 0;
      while (s[length] != 0 && length < width) ++length;
      if (width > length) out.Repeat(zeroPad ? u'0' : u' ', width - length);
      for (; *s != 0 && !out.cut(); ++s) out.Put(*s);
    } else if (*p == u'd') {
      int value = va_arg(args, int);
      std::uint32_t magnitude = static_cast<std::uint32_t>(value);
      if (value < 0) magnitude = 0u - magnitude;
      PutNumber(&out, value < 0, magnitude, 10, zeroPad, width);
    } else if (*p == u'u') {
      PutNumber(&out, false, va_arg(args, unsigned int), 10, zeroPad, width);
    } else if (*p == u'x') {
      PutNumber(&out, false, va_arg(args, unsigned int), 16, zeroPad, width);
    } else if (*p == u'%' && !zeroPad && width == 0) {
      out.Put(u'%');
    } else {
      // A conversion the layer does not offer: nothing is guessed.
      out.Clear();
      result = STRSAFE_E_INVALID_PARAMETER;
      break;
    }
  }
  va_end(args);
  HRESULT finished = out.Finish();
  return result != S_OK ? result : finished;
}
