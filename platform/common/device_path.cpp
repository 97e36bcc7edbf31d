// The device-path rule: portable code shared by the POSIX and Win32 layers.
#include "platform/common/device_path.h"

#include <algorithm>

namespace platform {

template <class Char>
ResolvedPath<Char> ResolveDevicePath(const Char* path, const Char* root, const Char* home,
                                     const DevicePathStyle& style) {
  ResolvedPath<Char> out;
  if (path == nullptr || path[0] == 0) return out;
  std::basic_string<Char> text(path);
  if (text[0] != '\\' || (style.uncIsHost && text[1] == '\\')) {
    out.kind = out.kHost;
    out.path = std::move(text);
    return out;
  }
  if (root == nullptr || root[0] == 0) root = home;
  if (root == nullptr || root[0] == 0) {
    out.kind = out.kNoRoot;
    return out;
  }
  std::replace(text.begin(), text.end(), Char('\\'), Char(style.separator));
  out.root = root;
  std::basic_string<Char> base(root);
  while (!base.empty() && (base.back() == '/' || base.back() == style.separator)) base.pop_back();

  constexpr char kMyDocuments[] = "My Documents";
  constexpr std::size_t nameLength = sizeof(kMyDocuments) - 1;
  if (text.size() > nameLength && std::equal(kMyDocuments, kMyDocuments + nameLength, &text[1]) &&
      (text.size() == 1 + nameLength || text[1 + nameLength] == style.separator)) {
    out.folder = base + text.substr(0, 1 + nameLength);
  }
  out.kind = out.kDevice;
  out.path = base + text;
  return out;
}

template ResolvedPath<char> ResolveDevicePath(const char*, const char*, const char*,
                                              const DevicePathStyle&);
template ResolvedPath<WCHAR> ResolveDevicePath(const WCHAR*, const WCHAR*, const WCHAR*,
                                               const DevicePathStyle&);

}  // namespace platform
