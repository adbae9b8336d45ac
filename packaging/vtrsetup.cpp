// vtrsetup: the registration half of mcivtr.inf. setupapi copies the modules
// and runs this program from the package directory (RegisterDlls /
// UnregisterDlls), because an INF alone cannot pick a free device name, add a
// profile section only when none exists, or remove only what it added.
//
//   vtrsetup /install [/quiet]   register the driver, add [videotape] if absent
//   vtrsetup /uninstall [/quiet] remove both again
//
// The device type is "vcr" unless another driver holds that name; then the
// first free of "vcr1" ... "vcr9", as Windows numbers device names, and the
// user is told (a message box; with /quiet only the value "DeviceName" under
// HKLM\Software\vtr422 says it). Registered under
// HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI32 in the 64- and
// 32-bit registry views on 64-bit Windows (the native one on 32-bit Windows),
// and under ...\MCI as well when running under Wine, whose winmm reads that.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kDriverFile = L"mcivtr.drv";
constexpr const wchar_t* kOwnKey = L"Software\\vtr422";
constexpr const wchar_t* kSection = L"videotape";
constexpr const wchar_t* kProfile = L"VTR.INI";  // bare name: the Windows directory
constexpr const wchar_t* kTitle = L"vtr422 setup";
constexpr int kMaxNumber = 9;

struct MciKey {
  const wchar_t* path;
  REGSAM view;
  std::wstring systemDir;  // where the module that this view's programs load is installed
};

bool g_quiet = false;

bool Wow64() {
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

// The installation record lives in the 64-bit view on 64-bit Windows, so
// that the x64 and x86 helpers find the same one.
REGSAM OwnView() { return sizeof(void*) == 8 || Wow64() ? KEY_WOW64_64KEY : 0; }

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring SystemDir(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t dir[MAX_PATH] = {};
  UINT n = get(dir, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(dir, n) : std::wstring();
}

// One key per registry view: on 64-bit Windows the 64-bit view (System32)
// and the 32-bit view (SysWOW64), on 32-bit Windows the only one.
std::vector<MciKey> Keys() {
  struct View {
    REGSAM view;
    std::wstring dir;
  };
  std::vector<View> views;
  if (sizeof(void*) == 8) {
    views = {{KEY_WOW64_64KEY, SystemDir(GetSystemDirectoryW)},
             {KEY_WOW64_32KEY, SystemDir(GetSystemWow64DirectoryW)}};
  } else if (Wow64()) {
    // A 32-bit process sees the 64-bit System32 as Sysnative.
    views = {{KEY_WOW64_64KEY, SystemDir(GetWindowsDirectoryW) + L"\\Sysnative"},
             {KEY_WOW64_32KEY, SystemDir(GetSystemWow64DirectoryW)}};
  } else {
    views = {{0, SystemDir(GetSystemDirectoryW)}};
  }
  std::vector<const wchar_t*> paths = {L"Software\\Microsoft\\Windows NT\\CurrentVersion\\MCI32"};
  if (UnderWine()) paths.push_back(L"Software\\Microsoft\\Windows NT\\CurrentVersion\\MCI");
  std::vector<MciKey> keys;
  for (const wchar_t* p : paths)
    for (const View& v : views) keys.push_back({p, v.view, v.dir});
  return keys;
}

bool ModuleInstalled(const MciKey& key) {
  if (key.systemDir.empty()) return false;
  std::wstring file = key.systemDir + L"\\" + kDriverFile;
  return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The value's text; nullopt when there is no such value, empty text when it
// is not text (still somebody's).
std::optional<std::wstring> ReadValue(const MciKey& key, const std::wstring& name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.path, 0, KEY_QUERY_VALUE | key.view, &h) !=
      ERROR_SUCCESS)
    return std::nullopt;
  DWORD size = 0;
  DWORD type = 0;
  std::optional<std::wstring> text;
  if (RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    text.emplace();
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
      size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
      if (RegQueryValueExW(h, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()),
                           &size) == ERROR_SUCCESS)
        text = buf.data();
    }
  }
  RegCloseKey(h);
  return text;
}

// A value is ours when its file name (text before any parameters) is ours.
bool IsOurs(const std::optional<std::wstring>& value) {
  if (!value) return false;
  std::wstring file = value->substr(0, value->find(L' '));
  return _wcsicmp(file.c_str(), kDriverFile) == 0;
}

std::wstring NameFor(int number) {
  return number == 0 ? std::wstring(L"vcr") : L"vcr" + std::to_wstring(number);
}

void Say(const std::wstring& text, UINT icon) {
  if (!g_quiet) MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | icon | MB_SETFOREGROUND);
}

int Fail(const std::wstring& text, LSTATUS rc) {
  Say(text + L" (error " + std::to_wstring(rc) + L"). Run the installation as an administrator.",
      MB_ICONERROR);
  return 1;
}

bool SectionExists(const wchar_t* file) {
  std::vector<wchar_t> names(32768);
  DWORD n = GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), file);
  for (DWORD i = 0; i < n && names[i]; i += static_cast<DWORD>(std::wcslen(&names[i])) + 1)
    if (_wcsicmp(&names[i], kSection) == 0) return true;
  return false;
}

// The package's sample VTR.INI, beside this program.
std::wstring SampleProfile() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1) + kProfile;
}

LSTATUS SetOwnValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY h = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOwnKey, 0, nullptr, 0,
                               KEY_SET_VALUE | OwnView(), nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(h);
  return rc;
}

int Install() {
  // Only the views whose module the INF installed: a 32-bit installer on
  // 64-bit Windows copies no x64 module.
  std::vector<MciKey> keys;
  for (const MciKey& k : Keys())
    if (ModuleInstalled(k)) keys.push_back(k);
  if (keys.empty()) {
    Say(L"mcivtr.drv is not in the system directory; the driver was not registered.", MB_ICONERROR);
    return 1;
  }
  // The first name that is free, or already ours, in every key.
  int number = 0;
  std::wstring holder;
  for (; number <= kMaxNumber; ++number) {
    bool free = true;
    for (const MciKey& k : keys) {
      std::optional<std::wstring> v = ReadValue(k, NameFor(number));
      if (v && !IsOurs(v)) {
        free = false;
        if (number == 0 && holder.empty()) holder = *v;
      }
    }
    if (free) break;
  }
  if (number > kMaxNumber) {
    Say(L"The device types vcr and vcr1 to vcr9 all belong to other drivers; the driver was not "
        L"registered.",
        MB_ICONERROR);
    return 1;
  }
  const std::wstring name = NameFor(number);
  for (const MciKey& k : keys) {
    HKEY h = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, k.path, 0, nullptr, 0, KEY_SET_VALUE | k.view,
                                 nullptr, &h, nullptr);
    if (rc == ERROR_SUCCESS) {
      rc = RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kDriverFile),
                          static_cast<DWORD>((std::wcslen(kDriverFile) + 1) * sizeof(wchar_t)));
      RegCloseKey(h);
    }
    if (rc != ERROR_SUCCESS) return Fail(L"Could not register the driver", rc);
  }
  LSTATUS rc = SetOwnValue(L"DeviceName", REG_SZ, name.c_str(),
                           static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
  if (rc != ERROR_SUCCESS) return Fail(L"Could not record the installation", rc);

  if (!SectionExists(kProfile)) {
    std::vector<wchar_t> section(32768);
    DWORD n = GetPrivateProfileSectionW(
        kSection, section.data(), static_cast<DWORD>(section.size()), SampleProfile().c_str());
    if (n == 0 || !WritePrivateProfileSectionW(kSection, section.data(), kProfile))
      return Fail(
          L"The driver is registered, but the [videotape] section of the sample VTR.INI "
          L"could not be added to VTR.INI in the Windows folder",
          static_cast<LSTATUS>(GetLastError()));
    DWORD added = 1;
    rc = SetOwnValue(L"AddedProfileSection", REG_DWORD, &added, sizeof(added));
    if (rc != ERROR_SUCCESS) return Fail(L"Could not record the installation", rc);
  }
  if (number != 0)
    Say(L"The device type vcr belongs to another driver (" + holder +
            L"), so this driver is installed as " + name + L". Open it with \"open " + name +
            L"\".",
        MB_ICONINFORMATION);
  return 0;
}

int Uninstall() {
  for (const MciKey& k : Keys()) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, k.path, 0, KEY_SET_VALUE | k.view, &h) != ERROR_SUCCESS)
      continue;
    for (int number = 0; number <= kMaxNumber; ++number)
      if (IsOurs(ReadValue(k, NameFor(number)))) RegDeleteValueW(h, NameFor(number).c_str());
    RegCloseKey(h);
  }
  HKEY own = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOwnKey, 0, KEY_QUERY_VALUE | OwnView(), &own) ==
      ERROR_SUCCESS) {
    DWORD added = 0;
    DWORD size = sizeof(added);
    if (RegQueryValueExW(own, L"AddedProfileSection", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&added), &size) == ERROR_SUCCESS &&
        added == 1)
      WritePrivateProfileStringW(kSection, nullptr, nullptr, kProfile);
    RegCloseKey(own);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kOwnKey, OwnView(), 0);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(cmdLine && *cmdLine ? cmdLine : L"", &argc);
  enum class Action { kNone, kInstall, kUninstall } action = Action::kNone;
  for (int i = 0; argv && i < argc; ++i) {
    if (_wcsicmp(argv[i], L"/install") == 0) action = Action::kInstall;
    if (_wcsicmp(argv[i], L"/uninstall") == 0) action = Action::kUninstall;
    if (_wcsicmp(argv[i], L"/quiet") == 0) g_quiet = true;
  }
  if (argv) LocalFree(argv);
  switch (action) {
    case Action::kInstall:
      return Install();
    case Action::kUninstall:
      return Uninstall();
    case Action::kNone:
      break;
  }
  Say(L"Usage: vtrsetup /install | /uninstall [/quiet]\nInstall the driver from mcivtr.inf.",
      MB_ICONINFORMATION);
  return 2;
}
