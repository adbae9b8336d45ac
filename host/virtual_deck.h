// The embedded virtual deck's configuration from the words a user gives:
// shared by vtrctl --sim and the C library's vtr_attach_virtual_deck.
#pragma once

#include <optional>
#include <string_view>

#include "sim/deck.h"

namespace vtr::host {

// `model`: one of the deck's machines ("BVW-75", any case), a row of the
// driver's model table ("19") or its name, or a device type code ("0x2025");
// each runs as the deck's machine of that name or code, else as the generic
// deck reporting the code.
// `standard`: "ntsc", "drop" (NTSC, drop-frame tape) or "pal" (25 frames a
// second and a tape of the same running time). nullopt for anything else.
std::optional<sim::DeckConfig> VirtualDeckConfig(std::string_view model, std::string_view standard);

}  // namespace vtr::host
