// The device-path rule of both sides, apart from the environment and the file system.
#include "platform/common/device_path.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace platform {
namespace {

TEST(DevicePath, ADevicePathLiesUnderTheRootAndAnyOtherIsUsedAsItIs) {
  const std::tuple<const char*, const char*, const char*, DevicePathStyle, std::string, std::string>
      rows[] = {
          {"\\\\s\\a", "", "/h\\/", kPosixPaths, "/h\\//s/a", ""},  // ZEMLIK_ROOT empty: home
          {"\\\\s\\a", nullptr, nullptr, kWin32Paths, "\\\\s\\a", ""},
          {"\\My Documents", "/", "/h", kPosixPaths, "/My Documents", "/My Documents"},
          {"\\My Documents\\a", "", "h\\/", kWin32Paths, "h\\My Documents\\a", "h\\My Documents"},
          {"\\a", nullptr, "", kPosixPaths, "no root", ""},  // in the host path's place
          {nullptr, "r", nullptr, kWin32Paths, "empty", ""},
      };
  for (const auto& [path, root, home, style, host, folder] : rows) {
    const auto got = ResolveDevicePath(path, root, home, style);
    const char* none = got.kind == got.kEmpty ? "empty" : "no root";
    EXPECT_EQ(std::pair(got.ok() ? got.path : none, got.folder), std::pair(host, folder)) << host;
  }
}

}  // namespace
}  // namespace platform
