// The usage box of the Windows build: the real MessageBoxW, modal, found on the
// screen, read and answered with OK as a user would. (On POSIX the box is written
// to standard output, which entry_test.cpp pins; nothing here runs there.)
#include <gtest/gtest.h>

#if defined(_WIN32)

#include <windows.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/support/win32/host.h"

namespace {

using zemlik::testing::Narrow;
using zemlik::testing::TempFolder;
using zemlik::testing::Wide;
using zemlik::testing::WindowsPath;

const std::string kCaption = "Zemlik について";
const std::string kUsage =
    "Zemlik\n"
    "Ver.1.0.2008.1221\n"
    "月ごとの新刊情報を集めてCSVファイルに保存します\n"
    "本ソフトウェアは無保証です。自己責任でお使いください\n"
    "引数:\n"
    "  /k: 種別(comic-ta,bunko-ta,comic-wf,url)\n"
    "  /d: 対象年月(yyyy/mm)\n"
    "  /u: URL\n"
    "  /c: 文字コード(sjis,utf8,bin)\n"
    "  /o: 出力ファイル\n"
    "例:\n"
    "  Zemlik /k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\"";

// The message box's dialog and its text control (the system's id 0xFFFF).
constexpr int kMessageTextId = 0xFFFF;

struct Search {
  DWORD processId;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  // Visible only once the box has its caption, text and buttons.
  if (owner == search->processId && std::wstring(className) == L"#32770" &&
      IsWindowVisible(window)) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

std::string WindowText(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return Narrow(text);
}

// Ends the program should the test stop before the box is answered.
class ProcessGuard {
 public:
  explicit ProcessGuard(HANDLE process) : process_(process) {}
  ~ProcessGuard() {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }

 private:
  HANDLE process_;
};

TEST(UsageBoxTest, NoArgumentsShowTheUsageBoxAndExit1OnceItIsAnswered) {
  // Under wine a window needs an X display (make test-windows runs the suites under Xvfb).
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0 &&
      GetModuleHandleW(L"ntdll.dll") != nullptr &&
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    GTEST_SKIP() << "no X display for wine's windows; run under xvfb-run";
  }
  TempFolder root;
  SetEnvironmentVariableW(L"ZEMLIK_ROOT", Wide(root.path()).c_str());
  const std::wstring binary = WindowsPath(zemlik::testing::ZemlikBinary());
  std::wstring commandLine = L"\"" + binary + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(binary.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startup, &process));
  SetEnvironmentVariableW(L"ZEMLIK_ROOT", nullptr);
  CloseHandle(process.hThread);
  ProcessGuard guard(process.hProcess);

  Search search{process.dwProcessId, nullptr};
  for (int waited = 0; search.box == nullptr && waited < 30000; waited += 50) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr) Sleep(50);
  }
  ASSERT_NE(search.box, nullptr) << "no message box appeared";
  // The box waits: the program has not ended while it is up.
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WindowText(search.box), kCaption);
  EXPECT_EQ(WindowText(GetDlgItem(search.box, kMessageTextId)), kUsage);

  PostMessageW(search.box, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(root.List(), std::vector<std::string>{});
}

}  // namespace

#endif  // _WIN32
