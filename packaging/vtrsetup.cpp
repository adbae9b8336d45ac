// vtrsetup: the registration half of mcivtr.inf. setupapi copies the files
// and runs this program (RegisterDlls / UnregisterDlls), because an INF alone
// cannot pick free device names, add a profile section only when none exists,
// or remove only what it added.
//
//   vtrsetup /install [/quiet]   register the devices, add a profile section if absent,
//                                and the entry in Programs and Features
//   vtrsetup /uninstall [/quiet] remove what /install added
//
// The devices are "vcr" and "vcr1" ... "vcr9", each registered with the text
// that names its profile section after the file name ("mcivtr.drv videotape2"):
// Windows hands that text to the driver's open as lpstrParams, Wine as the
// open's lParam1. A name another driver holds is left to it (the user is
// told; with /quiet only the value "DeviceName" under HKLM\Software\vtr422
// names the first device). Registered under
// HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI32 in the 64- and
// 32-bit registry views on 64-bit Windows (the native one on 32-bit Windows),
// and under ...\MCI as well when running under Wine, whose winmm reads that.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#define VTR_WIDE_(s) L##s
#define VTR_WIDE(s) VTR_WIDE_(s)

namespace {

constexpr const wchar_t* kDriverFile = L"mcivtr.drv";
constexpr const wchar_t* kOwnKey = L"Software\\vtr422";
constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vtr422";
constexpr const wchar_t* kSampleSection = L"videotape";  // the sample VTR.INI's section
constexpr const wchar_t* kProfile = L"VTR.INI";          // bare name: the Windows directory
constexpr const wchar_t* kTitle = L"vtr422 setup";
constexpr int kMaxNumber = 9;  // vcr, vcr1 .. vcr9: the driver's ten devices

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

// The profile section a device's driver open names from the registered text.
std::wstring SectionFor(int number) {
  return number == 0 ? std::wstring(L"videotape") : L"videotape" + std::to_wstring(number);
}

// The registry value of a device: the module, then the text that names its section.
std::wstring ValueFor(int number) {
  return number == 0 ? std::wstring(kDriverFile)
                     : std::wstring(kDriverFile) + L" " + SectionFor(number);
}

void Say(const std::wstring& text, UINT icon) {
  if (!g_quiet) MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | icon | MB_SETFOREGROUND);
}

int Fail(const std::wstring& text, LSTATUS rc) {
  Say(text + L" (error " + std::to_wstring(rc) + L"). Run the installation as an administrator.",
      MB_ICONERROR);
  return 1;
}

bool SectionExists(const std::wstring& section) {
  std::vector<wchar_t> names(32768);
  DWORD n =
      GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), kProfile);
  for (DWORD i = 0; i < n && names[i]; i += static_cast<DWORD>(std::wcslen(&names[i])) + 1)
    if (_wcsicmp(&names[i], section.c_str()) == 0) return true;
  return false;
}

// "key=value" entries of a section, each ended by a null, the list by another.
std::vector<wchar_t> SectionLines(const std::wstring& section, const std::wstring& file) {
  std::vector<wchar_t> lines(32768, L'\0');
  DWORD n = GetPrivateProfileSectionW(section.c_str(), lines.data(),
                                      static_cast<DWORD>(lines.size()), file.c_str());
  lines.resize(n + 1);
  lines.push_back(L'\0');
  return lines;
}

// The directory of this program, with its trailing separator.
std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

// Where the INF puts the program files (dirid 16422, "vtr422"), with the INF
// itself, so that the entry in Programs and Features can run its uninstall.
std::wstring ProgramFolder() {
  wchar_t dir[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, dir))) return {};
  return std::wstring(dir) + L"\\vtr422";
}

LSTATUS SetValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                 DWORD size) {
  HKEY h = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | OwnView(),
                               nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(h);
  return rc;
}

LSTATUS SetText(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
  return SetValue(key, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetNumber(const wchar_t* key, const wchar_t* name, DWORD value) {
  return SetValue(key, name, REG_DWORD, &value, sizeof(value));
}

// A value of the installation record; empty when absent.
std::vector<wchar_t> OwnValue(const wchar_t* name) {
  std::vector<wchar_t> data;
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOwnKey, 0, KEY_QUERY_VALUE | OwnView(), &h) !=
      ERROR_SUCCESS)
    return data;
  DWORD size = 0;
  if (RegQueryValueExW(h, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    data.assign(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
      data.clear();
  }
  RegCloseKey(h);
  return data;
}

// Adds the sample's settings as the first device's section when VTR.INI has
// none, and records what it added, to remove exactly that again.
int AddProfileSection(const std::wstring& section) {
  if (SectionExists(section)) return 0;
  std::vector<wchar_t> lines = SectionLines(kSampleSection, OwnDirectory() + kProfile);
  if (lines[0] == L'\0' || !WritePrivateProfileSectionW(section.c_str(), lines.data(), kProfile))
    return Fail(
        L"The driver is registered, but the sample settings could not be added to VTR.INI "
        L"in the Windows folder",
        static_cast<LSTATUS>(GetLastError()));
  LSTATUS rc = SetText(kOwnKey, L"AddedProfileSection", section);
  if (rc == ERROR_SUCCESS)
    rc = SetValue(kOwnKey, L"AddedProfileKeys", REG_MULTI_SZ, lines.data(),
                  static_cast<DWORD>(lines.size() * sizeof(wchar_t)));
  return rc == ERROR_SUCCESS ? 0 : Fail(L"Could not record the installation", rc);
}

// Removes each key the installation added that still holds the value it
// added, and the section once no key is left: what the user or the driver
// changed stays.
void RemoveProfileSection() {
  std::vector<wchar_t> section = OwnValue(L"AddedProfileSection");
  std::vector<wchar_t> added = OwnValue(L"AddedProfileKeys");
  if (section.empty() || section[0] == L'\0') return;
  for (const wchar_t* line = added.data(); !added.empty() && *line; line += std::wcslen(line) + 1) {
    const std::wstring entry(line);
    const std::size_t eq = entry.find(L'=');
    if (eq == std::wstring::npos) continue;
    const std::wstring key = entry.substr(0, eq);
    wchar_t now[1024] = {};
    GetPrivateProfileStringW(section.data(), key.c_str(), L"\x01", now, 1024, kProfile);
    if (entry.substr(eq + 1) == now)
      WritePrivateProfileStringW(section.data(), key.c_str(), nullptr, kProfile);
  }
  if (SectionLines(section.data(), kProfile)[0] == L'\0' && SectionExists(section.data()))
    WritePrivateProfileStringW(section.data(), nullptr, nullptr, kProfile);
}

// The entry in Programs and Features: it runs the INF's uninstall from the
// program folder, where the INF put a copy of itself and of this helper.
int AddUninstallEntry(const std::wstring& names) {
  const std::wstring folder = ProgramFolder();
  if (folder.empty() ||
      GetFileAttributesW((folder + L"\\mcivtr.inf").c_str()) == INVALID_FILE_ATTRIBUTES)
    return 0;  // installed without the program folder: no entry to offer
  const std::wstring run = L"rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 " +
                           folder + L"\\mcivtr.inf";
  LSTATUS rc =
      SetText(kUninstallKey, L"DisplayName", L"vtr422 MCI driver for 9-pin VTRs (" + names + L")");
  if (rc == ERROR_SUCCESS) rc = SetText(kUninstallKey, L"DisplayVersion", VTR_WIDE(VTR_VERSION));
  if (rc == ERROR_SUCCESS) rc = SetText(kUninstallKey, L"Publisher", L"vtr422");
  if (rc == ERROR_SUCCESS) rc = SetText(kUninstallKey, L"InstallLocation", folder);
  if (rc == ERROR_SUCCESS) rc = SetText(kUninstallKey, L"UninstallString", run);
  if (rc == ERROR_SUCCESS) rc = SetText(kUninstallKey, L"QuietUninstallString", run);
  if (rc == ERROR_SUCCESS) rc = SetNumber(kUninstallKey, L"NoModify", 1);
  if (rc == ERROR_SUCCESS) rc = SetNumber(kUninstallKey, L"NoRepair", 1);
  return rc == ERROR_SUCCESS ? 0 : Fail(L"Could not add the entry in Programs and Features", rc);
}

// The program folder's own files (the INF and the helpers) go last; a helper
// that is running (this one, when the uninstall runs from there) and then the
// folder are deleted when Windows next starts.
void RemoveProgramFolder() {
  const std::wstring folder = ProgramFolder();
  if (folder.empty()) return;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  bool later = false;
  for (const wchar_t* file : {L"mcivtr.inf", L"vtrsetup.exe", L"vtrsetup32.exe"}) {
    const std::wstring path = folder + L"\\" + file;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    if (_wcsicmp(path.c_str(), self) == 0 || !DeleteFileW(path.c_str())) {
      MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      later = true;
    }
  }
  if (later || !RemoveDirectoryW(folder.c_str()))
    MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
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
  // Every name that is free, or already ours, in every key; names other
  // drivers hold stay theirs.
  std::vector<int> numbers;
  std::wstring taken;
  for (int number = 0; number <= kMaxNumber; ++number) {
    bool free = true;
    for (const MciKey& k : keys) {
      std::optional<std::wstring> v = ReadValue(k, NameFor(number));
      if (v && !IsOurs(v)) {
        if (free) taken += (taken.empty() ? L"" : L", ") + NameFor(number) + L" (" + *v + L")";
        free = false;
      }
    }
    if (free) numbers.push_back(number);
  }
  if (numbers.empty()) {
    Say(L"The device types vcr and vcr1 to vcr9 all belong to other drivers; the driver was not "
        L"registered.",
        MB_ICONERROR);
    return 1;
  }
  for (const MciKey& k : keys) {
    HKEY h = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, k.path, 0, nullptr, 0, KEY_SET_VALUE | k.view,
                                 nullptr, &h, nullptr);
    for (int number : numbers) {
      if (rc != ERROR_SUCCESS) break;
      const std::wstring value = ValueFor(number);
      rc = RegSetValueExW(h, NameFor(number).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    if (h != nullptr) RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return Fail(L"Could not register the driver", rc);
  }
  const std::wstring first = NameFor(numbers.front());
  const std::wstring names =
      numbers.size() == 1 ? first : first + L" to " + NameFor(numbers.back());
  LSTATUS rc = SetText(kOwnKey, L"DeviceName", first);
  if (rc != ERROR_SUCCESS) return Fail(L"Could not record the installation", rc);
  if (int err = AddProfileSection(SectionFor(numbers.front()))) return err;
  if (int err = AddUninstallEntry(names)) return err;
  if (!taken.empty())
    Say(L"Names that belong to other drivers were left to them: " + taken +
            L". This driver's devices are " + names + L"; open the first with \"open " + first +
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
  RemoveProfileSection();
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, OwnView(), 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kOwnKey, OwnView(), 0);
  RemoveProgramFolder();
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
