// libFuzzer target for the command string parser (clang only): each input is
// sent as a command string to a library with "tape" open on the fake driver.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/host/fake_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vtr::mci;
  static testing::FakeDriver fake;
  static MciLibrary lib(fake.Entry());
  static const bool opened = [] {
    // Answers every command with a return value and writes nothing else.
    fake.onCommand = [](const testing::DriverCall&, std::uint8_t* block) -> LRESULT {
      DWORD v = 0x04030201;
      if (block != nullptr) std::memcpy(block + sizeof(DWORD_PTR), &v, sizeof v);
      return 0;
    };
    return lib.SendString("open vcr alias tape").error == 0;
  }();
  if (!opened) return 0;
  lib.SendString(std::string(reinterpret_cast<const char*>(data), size));
  // Keep the fixed device open for the next input.
  if (!lib.DeviceIdOf("tape")) lib.SendString("open vcr alias tape");
  fake.Clear();
  return 0;
}
