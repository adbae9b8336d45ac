// One fuzz input: sent as a command string to a library with a device "tape"
// open on the fake driver. Shared by the libFuzzer target and its CI test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtr::mci::testing {
int FuzzOneInput(const std::uint8_t* data, std::size_t size);
}
