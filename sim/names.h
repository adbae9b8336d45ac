// Names of 9-pin blocks for the trace: the driver's command names for blocks
// to the deck, reply names (ACK, NAK, STATUS_DATA, ...) for blocks from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vtr::sim {

std::string CommandName(std::span<const std::uint8_t> block);
std::string ReplyName(std::span<const std::uint8_t> block);

}  // namespace vtr::sim
