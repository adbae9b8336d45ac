// vtrdlg: drives the driver's configuration dialogs under the real user32.
// A worker thread sends DRV_CONFIGURE to the loaded driver (the dialog is
// modal there); the main thread finds each dialog by its caption, works its
// controls with window messages and checks VTR.INI. Every wait is bounded.
// The dialogs' behaviour is the headless table's
// (tests/core/config_dialog_test.cpp); this checks that two of its outcomes
// appear under the real user32 and serial ports.
//
//   vtrdlg [-shots DIR]   with DIR, each dialog is photographed: the program
//                         writes DIR\NAME.req and waits (bounded) for
//                         DIR\NAME.done from the photographer outside.
// Prints "PASS: ..." / "FAIL: ..." lines; exit status 0 when all passed.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kDialogWaitMs = 15000;
constexpr int kModelBvw75 = 19;

const wchar_t* kMainTitle = L"Orvanta Driver Config";
const wchar_t* kHardwareTitle = L"Advanced  Capabilities";
const wchar_t* kEditingTitle = L"Advanced  Editing";

int gFailed = 0;
int gPassed = 0;
std::wstring gShots;
LRESULT gCom5Entry = 0;
int gClosedPort = 0;  // a port of COM1..COM8 the first run did not list

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
  std::fflush(stdout);
  (ok ? gPassed : gFailed)++;
}

// A dialog is shown once its start message has been handled.
HWND FindDialog(const wchar_t* title, DWORD timeoutMs = kDialogWaitMs) {
  const DWORD start = GetTickCount();
  do {
    HWND h = FindWindowW(L"#32770", title);
    if (h != nullptr && IsWindowVisible(h)) return h;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

bool WaitGone(HWND h) {
  const DWORD start = GetTickCount();
  while (IsWindow(h)) {
    if (GetTickCount() - start > kDialogWaitMs) return false;
    Sleep(50);
  }
  return true;
}

// Asks for a picture of the window titled `title`; the request file holds the title.
void Shot(const wchar_t* name, const char* title) {
  if (gShots.empty()) return;
  Sleep(700);  // let the dialog paint
  const std::wstring base = gShots + L"\\" + name;
  DeleteFileW((base + L".done").c_str());
  HANDLE f = CreateFileW((base + L".req").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(f, title, static_cast<DWORD>(std::strlen(title)), &written, nullptr);
    CloseHandle(f);
  }
  const DWORD start = GetTickCount();
  while (GetFileAttributesW((base + L".done").c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > kDialogWaitMs) {
      std::printf("note: no screenshot of %ls\n", name);
      return;
    }
    Sleep(100);
  }
}

int Ini(const wchar_t* key) {
  return static_cast<int>(GetPrivateProfileIntW(L"videotape3", key, -99999, L"VTR.INI"));
}

struct ConfigureCall {
  HDRVR driver;
  DWORD size;
  LRESULT result = -1;
};

// The caller's side: a window of its own and DRV_CONFIGURE over it.
DWORD WINAPI ConfigureThread(LPVOID p) {
  auto* call = static_cast<ConfigureCall*>(p);
  HWND parent = CreateWindowExW(0, L"STATIC", L"vtrdlg", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  DRVCONFIGINFO info{};
  info.dwDCISize = call->size;
  info.lpszDCISectionName = L"MCI";
  info.lpszDCIAliasName = L"vcr3";
  call->result = SendDriverMessage(call->driver, DRV_CONFIGURE, reinterpret_cast<LPARAM>(parent),
                                   reinterpret_cast<LPARAM>(&info));
  DestroyWindow(parent);
  return 0;
}

// Runs DRV_CONFIGURE on a worker; `drive` works the main dialog (null when
// none appeared) and must close it.
template <typename Fn>
void Configure(HDRVR driver, DWORD size, Fn drive) {
  ConfigureCall call{driver, size};
  HANDLE thread = CreateThread(nullptr, 0, ConfigureThread, &call, 0, nullptr);
  HWND main = FindDialog(kMainTitle, size == sizeof(DRVCONFIGINFO) ? kDialogWaitMs : 2000);
  drive(main);
  if (WaitForSingleObject(thread, kDialogWaitMs) != WAIT_OBJECT_0) {
    Check(false, "DRV_CONFIGURE returned");
    // Unstick whatever is open, once more, before giving up on the thread.
    for (const wchar_t* t : {kHardwareTitle, kEditingTitle, kMainTitle}) {
      if (HWND h = FindWindowW(L"#32770", t)) PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    }
    if (WaitForSingleObject(thread, kDialogWaitMs) != WAIT_OBJECT_0) {
      std::printf("FAIL: a dialog does not close\n");
      ExitProcess(1);
    }
  }
  CloseHandle(thread);
  Check(call.result == 0, "DRV_CONFIGURE answers 0");
}

// Opens a sub-dialog from the main one, photographs it as it starts, lets
// `work` set it, and presses OK.
template <typename Fn>
bool SubDialog(HWND main, WPARAM opener, const wchar_t* title, const wchar_t* shot, Fn work) {
  char narrow[64] = {};
  WideCharToMultiByte(CP_UTF8, 0, title, -1, narrow, sizeof(narrow), nullptr, nullptr);
  PostMessageW(main, WM_COMMAND, opener, 0);  // posted: the sub-dialog is modal
  HWND h = FindDialog(title);
  if (h == nullptr) return false;
  Shot(shot, narrow);
  work(h);
  PostMessageW(h, WM_COMMAND, IDOK, 0);
  return WaitGone(h);
}

std::wstring SelectedPort(HWND main) {
  wchar_t text[32] = {};
  const LRESULT sel = SendDlgItemMessageW(main, 1001, CB_GETCURSEL, 0, 0);
  if (sel >= 0) {
    SendDlgItemMessageW(main, 1001, CB_GETLBTEXT, static_cast<WPARAM>(sel),
                        reinterpret_cast<LPARAM>(text));
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) != "-shots") continue;
    wchar_t dir[MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, argv[++i], -1, dir, MAX_PATH);
    gShots = dir;
  }
  HDRVR driver = OpenDriver(L"mcivtr.drv", nullptr, 0);
  if (driver == nullptr) {
    std::printf("FAIL: OpenDriver mcivtr.drv\n");
    return 1;
  }
  Check(SendDriverMessage(driver, DRV_QUERYCONFIGURE, 0, 0) == 1, "DRV_QUERYCONFIGURE answers 1");

  // 1. A first run on a missing section shows a new device's values; every
  // dialog changed, then OK.
  Configure(driver, sizeof(DRVCONFIGINFO), [](HWND main) {
    Check(main != nullptr, "DRV_CONFIGURE shows \"Orvanta Driver Config\"");
    if (main == nullptr) return;
    Check(SendDlgItemMessageW(main, 1000, CB_GETCOUNT, 0, 0) == 57, "57 model entries");
    Check(SendDlgItemMessageW(main, 1000, CB_GETCURSEL, 0, 0) == 56 &&
              IsDlgButtonChecked(main, 1013) == BST_CHECKED && IsDlgButtonChecked(main, 1006) &&
              IsDlgButtonChecked(main, 1014),
          "a first run shows a new device: AUTO DETECT, Auto Edit, Auto TC, NTSC");
    // COM5 opens (the registry sends it to /dev/ptmx); remember a port that is not listed.
    const auto find = [main](const std::wstring& port) {
      return SendDlgItemMessageW(main, 1001, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(port.c_str()));
    };
    gCom5Entry = find(L"COM5");
    Check(gCom5Entry >= 0, "the port list holds COM5, which opens");
    for (int n = 1; n <= 8 && gClosedPort == 0; ++n) {
      if (find(L"COM" + std::to_wstring(n)) < 0) gClosedPort = n;
    }
    Check(SubDialog(main, 1004, kHardwareTitle, L"hardware",
                    [](HWND h) {
                      SendDlgItemMessageW(h, 1045, BM_SETCHECK, BST_UNCHECKED, 0);
                      SetDlgItemTextW(h, 1056, L"-7");
                    }),
          "\"Hardware...\" opens and closes \"Advanced  Capabilities\"");
    Check(SubDialog(main, 1005, kEditingTitle, L"editing",
                    [](HWND h) {
                      SetDlgItemTextW(h, 1078, L"150");
                      SetDlgItemTextW(h, 1073, L"357");
                    }),
          "\"Editing...\" opens and closes \"Advanced  Editing\"");
    SendDlgItemMessageW(main, 1000, CB_SETCURSEL, kModelBvw75, 0);
    SendDlgItemMessageW(main, 1001, CB_SETCURSEL, static_cast<WPARAM>(gCom5Entry), 0);
    CheckRadioButton(main, 1006, 1009, 1009);
    CheckRadioButton(main, 1010, 1013, 1011);
    CheckRadioButton(main, 1014, 1015, 1015);
    Shot(L"main", "Orvanta Driver Config");
    PostMessageW(main, WM_COMMAND, IDOK, 0);
  });
  wchar_t name[128] = {};
  GetPrivateProfileStringW(L"videotape3", L"VTRName", L"", name, 128, L"VTR.INI");
  Check(Ini(L"VTRID") == kModelBvw75 && std::wstring(name) == L"Sony BVW-75",
        "OK saves VTRID 19, \"Sony BVW-75\"");
  Check(Ini(L"ComPort") == 5 && Ini(L"Pal") == 1 && Ini(L"TimerSelect") == 1,
        "OK saves COM5, PAL, LTC");
  Check(Ini(L"CanRecord") == 1 && Ini(L"CanEdit") == 0 && Ini(L"CanAssemble") == 1 &&
            Ini(L"CanInsVid") == 0,
        "OK applies the Rec/Pause preset");
  Check(Ini(L"HasVTC") == 0 && Ini(L"SpeedChgDelay") == -7 && Ini(L"CanCue") == 1,
        "the capabilities reach the profile; those not changed keep a new device's values");
  Check(Ini(L"PreRoll") == 150 && Ini(L"BumpFwdCmd") == 101 && Ini(L"RecPreRoll") == 120,
        "the editing values reach the profile");

  // 2. A section's port that does not open stays chosen, and OK keeps it. (Wine
  // lets a second program open a port that one holds, so the held port of the
  // table cannot be shown here.)
  const std::wstring closed = L"COM" + std::to_wstring(gClosedPort);
  WritePrivateProfileStringW(L"videotape3", L"ComPort", std::to_wstring(gClosedPort).c_str(),
                             L"VTR.INI");
  Configure(driver, sizeof(DRVCONFIGINFO), [&closed](HWND main) {
    if (main == nullptr) return;
    std::printf("port shown: %ls\n", SelectedPort(main).c_str());
    Check(SelectedPort(main) == closed + L" (unavailable)",
          "a port that does not open shows as \"COMn (unavailable)\" and stays chosen");
    PostMessageW(main, WM_COMMAND, IDOK, 0);
  });
  Check(gClosedPort != 0 && Ini(L"ComPort") == gClosedPort && Ini(L"VTRID") == kModelBvw75,
        "OK keeps the port");

  CloseDriver(driver, 0, 0);
  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return gFailed == 0 ? 0 : 1;
}
