// libFuzzer target for the UTF-8 decoder and encoder. The input is read twice:
// as UTF-8 bytes for Utf8ToWide, and as UTF-16LE units for WideToUtf8. Checks:
// results within their capacities, no ASCII byte lost to an ill-formed sequence, and
// decode(encode(w)) == w for any wide text w (the encoder writes every unit on its own,
// the decoder passes those forms back).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/conversions.h"
#include "platform/memory.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// Encodes `wide`, decodes the bytes again and checks both steps.
void CheckRoundTrip(const std::u16string& wide) {
  LPSTR utf8 = nullptr;
  if (WideToUtf8(wide.c_str(), &utf8) != 0) Fail("WideToUtf8 failed");
  platform::LocalPtr<char> ownedUtf8(utf8);
  if (std::strlen(utf8) > 3 * wide.size()) Fail("WideToUtf8 beyond 3n");

  LPWSTR back = nullptr;
  if (Utf8ToWide(utf8, &back) != 0) Fail("Utf8ToWide failed");
  platform::LocalPtr<WCHAR> ownedBack(back);
  if (wide != std::u16string(back)) Fail("round trip changed the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As UTF-8: at most one unit per byte; what comes out must survive a round trip.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  LPWSTR wide = nullptr;
  if (Utf8ToWide(bytes.c_str(), &wide) != 0) Fail("Utf8ToWide failed");
  platform::LocalPtr<WCHAR> ownedWide(wide);
  const std::u16string decoded(wide);
  if (decoded.size() > std::strlen(bytes.c_str())) Fail("Utf8ToWide beyond n units");
  // An ASCII byte is never part of a sequence, so each one comes out (overlong forms may
  // add more), up to the first overlong zero (C0 80 or E0 80 80): that zero unit is kept
  // and ends the text for every reader.
  const char* end = bytes.c_str() + std::strlen(bytes.c_str());
  for (const char* b = bytes.c_str(); b < end; ++b) {
    const auto lead = static_cast<unsigned char>(b[0]);
    if ((lead == 0xC0 && b + 1 < end && static_cast<unsigned char>(b[1]) == 0x80) ||
        (lead == 0xE0 && b + 2 < end && static_cast<unsigned char>(b[1]) == 0x80 &&
         static_cast<unsigned char>(b[2]) == 0x80)) {
      end = b;
      break;
    }
  }
  size_t asciiIn = 0, asciiOut = 0;
  for (const char* b = bytes.c_str(); b < end; ++b)
    asciiIn += static_cast<unsigned char>(*b) < 0x80;
  for (char16_t u : decoded) asciiOut += u < 0x80;
  if (asciiOut < asciiIn) Fail("Utf8ToWide lost an ASCII byte");
  CheckRoundTrip(decoded);

  // As UTF-16LE, up to the first zero unit.
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const auto u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  CheckRoundTrip(units);
  return 0;
}
