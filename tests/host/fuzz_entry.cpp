#include "tests/host/fuzz_entry.h"

#include <cstring>
#include <string>

#include "tests/host/fake_driver.h"

namespace vtr::mci::testing {

int FuzzOneInput(const std::uint8_t* data, std::size_t size) {
  static FakeDriver fake;
  static MciLibrary lib(fake.Entry());
  static const bool opened = [] {
    // Answers every command with a return value and writes nothing else.
    fake.onCommand = [](const DriverCall&, std::uint8_t* block) -> LRESULT {
      DWORD v = 0x04030201;
      if (block != nullptr) std::memcpy(block + sizeof(DWORD_PTR), &v, sizeof v);
      return 0;
    };
    return lib.SendString("open vcr alias tape").error == 0;
  }();
  if (!opened) return 0;
  std::string command(reinterpret_cast<const char*>(data), size);
  CommandResult r = lib.SendString(command);
  // Keep the fixed device open for the next input.
  if (!lib.DeviceIdOf("tape")) lib.SendString("open vcr alias tape");
  fake.Clear();
  return static_cast<int>(r.error & 0);
}

}  // namespace vtr::mci::testing
