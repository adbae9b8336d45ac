#include "host/virtual_deck.h"

#include <cstdlib>
#include <string>

#include "config/ballistics.h"
#include "mci/command_table.h"

namespace vtr::host {
namespace {

std::optional<sim::DeckConfig> ModelConfig(const std::string& model) {
  char* end = nullptr;
  unsigned long n = std::strtoul(model.c_str(), &end, 0);
  bool number = !model.empty() && end != nullptr && *end == '\0';
  if (number && model.rfind("0x", 0) != 0 && n < static_cast<unsigned long>(kModelRows - 1))
    return sim::DeckConfig::ForModel(static_cast<int>(n));
  for (int row = 0; row < kModelRows - 1; ++row) {
    const VTRBALLISTICS& b = vtrBallistics[row];
    bool byName = b.szModel != nullptr && mci::ToLowerAscii(b.szModel) == mci::ToLowerAscii(model);
    if (byName || (number && b.wDeviceType == n)) return sim::DeckConfig::ForModel(row);
  }
  if (number && n <= 0xFFFF) {
    auto cfg = sim::DeckConfig::ForModel(static_cast<int>(kVtrIdGeneric));
    cfg.device_type = static_cast<std::uint16_t>(n);
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
  return cfg;
}

}  // namespace vtr::host
