#include "host/virtual_deck.h"

#include <cstdlib>
#include <string>

#include "config/ballistics.h"
#include "mci/command_table.h"
#include "sim/personalities.h"

namespace vtr::host {
namespace {

// The deck's machine for a row of the driver's model table: the machine of the
// same name, else the one reporting the row's code, else the generic deck
// reporting it (a Pioneer row with the VDR commands).
sim::DeckConfig RowConfig(int row) {
  const VTRBALLISTICS& b = vtrBallistics[row];
  if (const sim::Personality* p = sim::FindPersonality(b.szModel)) return sim::DeckConfig::For(*p);
  if (const sim::Personality* p = sim::FindPersonalityByType(b.wDeviceType)) {
    return sim::DeckConfig::For(*p);
  }
  auto cfg = sim::DeckConfig::For(sim::GenericPersonality());
  cfg.device_type = b.wDeviceType;
  if (std::string(szMachVendors[b.wVendor]) == "Pioneer") cfg.family = sim::Family::kVdr;
  return cfg;
}

std::optional<sim::DeckConfig> ModelConfig(const std::string& model) {
  if (const sim::Personality* p = sim::FindPersonality(model)) return sim::DeckConfig::For(*p);
  char* end = nullptr;
  unsigned long n = std::strtoul(model.c_str(), &end, 0);
  bool number = !model.empty() && end != nullptr && *end == '\0';
  if (number && model.rfind("0x", 0) != 0 && n < static_cast<unsigned long>(kModelRows - 1))
    return RowConfig(static_cast<int>(n));
  for (int row = 0; row < kModelRows - 1; ++row) {
    const VTRBALLISTICS& b = vtrBallistics[row];
    if (b.szModel != nullptr && mci::ToLowerAscii(b.szModel) == mci::ToLowerAscii(model))
      return RowConfig(row);
  }
  if (number && n <= 0xFFFF) {
    const auto code = static_cast<std::uint16_t>(n);
    if (const sim::Personality* p = sim::FindPersonalityByType(code))
      return sim::DeckConfig::For(*p);
    for (int row = 0; row < kModelRows - 1; ++row) {
      if (vtrBallistics[row].wDeviceType == code) return RowConfig(row);
    }
    auto cfg = sim::DeckConfig::For(sim::GenericPersonality());
    cfg.device_type = code;
    return cfg;
  }
  return std::nullopt;
}

}  // namespace

std::optional<sim::DeckConfig> VirtualDeckConfig(std::string_view model,
                                                 std::string_view standard) {
  auto cfg = ModelConfig(std::string(model));
  if (!cfg) return std::nullopt;
  if (standard == "drop") {
    cfg->standard = sim::VideoStandard::kNtscDropFrame;
  } else if (standard == "pal") {
    cfg->standard = sim::VideoStandard::kPal;
    cfg->tape_frames = cfg->tape_frames / 30u * 25u;
    cfg->near_end_frames = cfg->near_end_frames / 30u * 25u;
  } else if (standard != "ntsc") {
    return std::nullopt;
  }
  // Nothing reads the deck's trace here (vtrctl --trace prints through the
  // sink): keeping it would grow for as long as the session runs.
  cfg->trace_limit = 0;
  return cfg;
}

}  // namespace vtr::host
