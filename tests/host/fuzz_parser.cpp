// libFuzzer target for the command string parser (clang only).
#include <cstddef>
#include <cstdint>

#include "tests/host/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return vtr::mci::testing::FuzzOneInput(data, size);
}
