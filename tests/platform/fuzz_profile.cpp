// libFuzzer target for the profile reader (clang only): arbitrary bytes as
// "VTR.INI", read as a device's section and as single keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/profile.h"
#include "record/device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char templ[] = "/tmp/vtr-fuzz-profile-XXXXXX";
    const char* made = mkdtemp(templ);
    std::string d = made != nullptr ? made : "/tmp";
    setenv("VTR422_PROFILE_DIR", d.c_str(), 1);
    return d;
  }();
  std::ofstream(dir + "/VTR.INI", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  for (const char* section : {"videotape", "videotape1", "videotape42"}) {
    DeviceRecord rec{};
    InitDevStruct(&rec);
    LoadDevINI(section, &rec);
  }
  GetPrivateProfileIntA("videotape", "ComPort", 2, "VTR.INI");
  GetPrivateProfileIntA("", "", 0, "VTR.INI");
  return 0;
}
