// MCI services: forwarded to the host that loaded the driver.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mci_host.h"

namespace vtr::platform {
namespace {
std::atomic<MciHost*> gHost{nullptr};

struct Resources {
  std::mutex mutex;
  std::map<std::string, std::vector<std::uint8_t>> binary;  // upper-case names
  std::map<UINT, std::string> strings;
};
Resources& Res() {
  static Resources r;
  return r;
}
std::string Upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}
struct ModuleTag {};
ModuleTag gModule;
}  // namespace

void SetMciHost(MciHost* host) { gHost.store(host); }
MciHost* GetMciHost() { return gHost.load(); }

void AddModuleResource(std::string_view name, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(Res().mutex);
  Res().binary[Upper(name)] = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}
std::optional<std::span<const std::uint8_t>> FindModuleResource(std::string_view name) {
  std::lock_guard lock(Res().mutex);
  auto it = Res().binary.find(Upper(name));
  if (it == Res().binary.end()) return std::nullopt;
  return std::span<const std::uint8_t>(it->second);
}
void AddModuleString(UINT id, std::string_view text) {
  std::lock_guard lock(Res().mutex);
  Res().strings[id] = std::string(text);
}
std::optional<std::string> LoadModuleString(UINT id) {
  std::lock_guard lock(Res().mutex);
  auto it = Res().strings.find(id);
  if (it == Res().strings.end()) return std::nullopt;
  return it->second;
}
HINSTANCE DriverModule() { return reinterpret_cast<HINSTANCE>(&gModule); }

std::u16string Widen(std::string_view s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0;
    std::size_t n = 1;
    if (c < 0x80)
      cp = c;
    else if ((c >> 5) == 6 && i + 1 < s.size()) {
      cp = c & 0x1Fu;
      n = 2;
    } else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = c & 0x0Fu;
      n = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = c & 0x07u;
      n = 4;
    } else {
      cp = 0xFFFD;
    }
    for (std::size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace vtr::platform

using vtr::platform::GetMciHost;

BOOL mciDriverNotify(HANDLE hwndCallback, UINT wDeviceID, UINT uStatus) {
  auto* h = GetMciHost();
  return h != nullptr ? h->DriverNotify(hwndCallback, wDeviceID, uStatus) : FALSE;
}
UINT mciDriverYield(UINT wDeviceID) {
  auto* h = GetMciHost();
  return h != nullptr ? h->DriverYield(wDeviceID) : 0;
}
UINT mciLoadCommandResource(HINSTANCE hInstance, LPCWSTR lpResName, UINT wType) {
  auto* h = GetMciHost();
  return h != nullptr ? h->LoadCommandResource(hInstance, lpResName, wType) : MCI_NO_COMMAND_TABLE;
}
BOOL mciFreeCommandResource(UINT wTable) {
  auto* h = GetMciHost();
  return h != nullptr ? h->FreeCommandResource(wTable) : FALSE;
}
BOOL mciSetDriverData(UINT wDeviceID, DWORD_PTR dwData) {
  auto* h = GetMciHost();
  return h != nullptr ? h->SetDriverData(wDeviceID, dwData) : FALSE;
}
