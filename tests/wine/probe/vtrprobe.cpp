// A stand-in MCI driver for the Wine tier. It carries the same "VCR" command
// table as mcivtr.drv and records, for each command winmm sends, the flags
// and the parameter block winmm built from the table, so the tier can check
// the layout the real handlers read. Status answers exercise winmm's return
// formatting (resource words, colonised positions).
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Each needs the ones before it.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
UINT WINAPI mciLoadCommandResource(HINSTANCE hInstance, LPCWSTR lpResName, UINT wType);
BOOL WINAPI mciFreeCommandResource(UINT wTable);
BOOL WINAPI mciDriverNotify(HANDLE hwndCallback, UINT wDeviceID, UINT uStatus);
}

namespace {

HINSTANCE g_module = nullptr;
UINT g_table = 0xFFFF;

// Bytes of parameter block each command's table entry defines on x64.
size_t BlockBytes(UINT msg) {
  switch (msg) {
    case 0x080B:
      return 16;  // capability
    case 0x080A:
      return 20;  // info
    case 0x0878:
      return 16;  // list
    case 0x0806:
      return 20;  // play
    case 0x080F:
      return 20;  // record
    case 0x080E:
      return 12;  // step
    case 0x0830:
      return 16;  // cue
    case 0x0807:
      return 20;  // seek
    case 0x080D:
      return 64;  // set
    case 0x0C02:
      return 16;  // settuner
    case 0x0873:
      return 20;  // setaudio
    case 0x0876:
      return 20;  // setvideo
    case 0x0814:
      return 36;  // status
    case 0x0805:
      return 16;  // escape
    case 0x0C82:
      return 12;  // shuttle
    case 0x0C83:
      return 20;  // edit
    case 0x0C8D:
      return 16;  // vdr
    case 0x0C87:
      return 36;  // setzdkr
    case 0x0C88:
      return 64;  // setzdkrvid (as far as winmm's parser reaches)
    case 0x0C89:
      return 24;  // setzdkraud
    case 0x0C8A:
      return 12;  // getzdkr
    case 0x0C8B:
      return 12;  // getzdkrvid
    case 0x0C8C:
      return 16;  // getzdkraud
    default:
      return 8;
  }
}

void Log(const std::string& line) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("VTRPROBE_LOG", path, sizeof(path));
  if (n == 0 || n >= sizeof(path)) return;
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  std::string s = line + "\n";
  DWORD written = 0;
  WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
  CloseHandle(h);
}

std::string Narrow(LPCWSTR w) {
  if (!w) return "null";
  char buf[256] = {};
  WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof(buf) - 1, nullptr, nullptr);
  return std::string("\"") + buf + "\"";
}

// Words after the callback slot, in hex; a string slot shows as its text.
std::string DumpBlock(UINT msg, DWORD flags, const BYTE* block) {
  char head[64];
  std::snprintf(
      head, sizeof(head), "msg=0x%04X flags=0x%08lX cb=%s", msg, static_cast<unsigned long>(flags),
      (flags & MCI_NOTIFY) ? (*reinterpret_cast<const DWORD_PTR*>(block) ? "hwnd" : "0") : "-");
  std::string s = head;
  if (!block) return s + " block=null";
  size_t bytes = BlockBytes(msg);
  for (size_t off = 8; off < bytes; off += 4) {
    if (msg == 0x0805 && off == 8) {  // escape: the command string
      s += " [8]=" + Narrow(*reinterpret_cast<const LPCWSTR*>(block + 8));
      off += 4;
      continue;
    }
    if (msg == 0x080A && off == 8) {  // info: return buffer and its size
      char b[48];
      std::snprintf(b, sizeof(b), " [8]=buf [16]=%lu",
                    static_cast<unsigned long>(*reinterpret_cast<const DWORD*>(block + 16)));
      s += b;
      off += 8;
      continue;
    }
    DWORD v;
    std::memcpy(&v, block + off, sizeof(v));
    if (v != 0) {
      char b[32];
      std::snprintf(b, sizeof(b), " [%zu]=0x%lX", off, static_cast<unsigned long>(v));
      s += b;
    }
  }
  return s;
}

DWORD Answer(UINT devId, UINT msg, DWORD flags, BYTE* block) {
  DWORD ret = 0;
  if (msg == 0x0814 && block) {  // status: item at offset 12
    DWORD item = *reinterpret_cast<DWORD*>(block + 12);
    DWORD* out = reinterpret_cast<DWORD*>(block + 8);
    switch (item) {
      case 4:  // mode: one of winmm's own words
        *out = MAKEMCIRESOURCE(MCI_MODE_PLAY, MCI_MODE_PLAY);
        ret = MCI_RESOURCE_RETURNED;
        break;
      case 2:  // position in smpte: hh mm ss ff from the low byte up
        *out = 0x04030201;
        ret = MCI_COLONIZED4_RETURN;
        break;
      case 0x4003:  // media type "vhs": a word the driver module owns
        *out = MAKEMCIRESOURCE(1283, 1283);
        ret = MCI_RESOURCE_RETURNED | MCI_RESOURCE_DRIVER;
        break;
      case 0x401A:  // time mode "detect" without the driver flag
        *out = MAKEMCIRESOURCE(1294, 1294);
        ret = MCI_RESOURCE_RETURNED;
        break;
      default:
        *out = 1234;
        break;
    }
  } else if (msg == 0x080A && block) {  // info: text into the return buffer
    LPWSTR buf = *reinterpret_cast<LPWSTR*>(block + 8);
    DWORD size = *reinterpret_cast<DWORD*>(block + 16);
    if (buf && size > 5) lstrcpyW(buf, L"probe");
  } else if (msg == 0x080B && block) {
    *reinterpret_cast<DWORD*>(block + 8) = 1;
  }
  if ((flags & MCI_NOTIFY) && block)
    mciDriverNotify(reinterpret_cast<HANDLE>(*reinterpret_cast<DWORD_PTR*>(block)), devId,
                    MCI_NOTIFY_SUCCESSFUL);
  return ret;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = hInstance;
  return TRUE;
}

extern "C" LRESULT CALLBACK vtrProbeDriverProc(DWORD_PTR dwDriverID, HDRVR, UINT uMsg,
                                               LPARAM lParam1, LPARAM lParam2) {
  switch (uMsg) {
    case DRV_LOAD:
      g_table = mciLoadCommandResource(g_module, L"vcr", 0);
      Log("DRV_LOAD table=" + std::string((g_table & 0xFFFF) == 0xFFFF ? "none" : "loaded"));
      return (g_table & 0xFFFF) == 0xFFFF ? 0 : 1;
    case DRV_FREE:
      mciFreeCommandResource(g_table);
      return 1;
    case DRV_OPEN: {
      auto* modp = reinterpret_cast<MCI_OPEN_DRIVER_PARMS*>(lParam2);
      Log("DRV_OPEN lParam1=" + Narrow(reinterpret_cast<LPCWSTR>(lParam1)) +
          (modp ? " lpstrParams=" + Narrow(modp->lpstrParams) : std::string(" lParam2=null")));
      if (!modp) return 10000;
      modp->wCustomCommandTable = g_table;
      modp->wType = MCI_DEVTYPE_VCR;
      return static_cast<LRESULT>(modp->wDeviceID);
    }
    case DRV_CLOSE:
      Log("DRV_CLOSE");
      return 1;
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_QUERYCONFIGURE:
    case DRV_INSTALL:
      return 1;
    case DRV_CONFIGURE:
      return 0;
    default:
      break;
  }
  if (uMsg < DRV_RESERVED) return 0;
  auto flags = static_cast<DWORD>(lParam1);
  auto* block = reinterpret_cast<BYTE*>(lParam2);
  if (uMsg == MCI_OPEN_DRIVER || uMsg == MCI_CLOSE_DRIVER) {
    char b[64];
    std::snprintf(b, sizeof(b), "msg=0x%04X", uMsg);
    // The device's name as the application opened it (the driver's last
    // source for its number): after the callback and the 32-bit device ID.
    LPCWSTR type = nullptr;
    if (uMsg == MCI_OPEN_DRIVER && block && (flags & MCI_OPEN_TYPE) && !(flags & MCI_OPEN_TYPE_ID))
      std::memcpy(&type, block + sizeof(DWORD_PTR) + sizeof(DWORD), sizeof(type));
    Log(std::string(b) + (uMsg == MCI_OPEN_DRIVER ? " type=" + Narrow(type) : std::string()));
    if ((flags & MCI_NOTIFY) && block)
      mciDriverNotify(reinterpret_cast<HANDLE>(*reinterpret_cast<DWORD_PTR*>(block)),
                      static_cast<UINT>(dwDriverID), MCI_NOTIFY_SUCCESSFUL);
    return 0;
  }
  Log(DumpBlock(uMsg, flags, block));
  return static_cast<LRESULT>(Answer(static_cast<UINT>(dwDriverID), uMsg, flags, block));
}
