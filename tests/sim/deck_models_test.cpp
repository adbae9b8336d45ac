// The driver's model table beside the deck's own machines: the deck is an
// independent witness only where the two agree or the difference is known.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "config/ballistics.h"
#include "host/virtual_deck.h"
#include "sim/deck.h"

namespace vtr::sim {
namespace {

// What the deck models of a row: the code it reports, whether it records and
// runs edits itself, and its edit delays (insert video and the E-to-E delays
// it does not model).
TEST(DeckModels, DriverTableBesideTheDecksMachines) {
  const char* const kNoSource =
      "no public source for this machine: the generic deck reporting its code";
  const char* const kSonyDelay =
      "Sony tells controllers to cut in and out 5 frames ahead; the row has 4";
  std::map<int, const char*> reasons = {
      {0, "the ZDKR machine's own edit durations start at 8 on and 7 off; the row has 7 and 7"},
      {15, kSonyDelay},
      {17, "a BVW-65 is a player; the row records and edits (reported)"},
      {18, "a BVW-70 is a recorder without an edit controller; the row auto-edits (reported)"},
      {19, kSonyDelay},
      {20, "the row names a BVW-15 (a player) but records; the deck plays the player"},
      {21, kSonyDelay},
      {22, "a PVW-2600 is a player; the row records (reported)"},
      {40, "the public device list gives A0 81 to the AG-7750, not the AG-7650 (reported)"},
      {41,
       "the public device list gives A0 81 to the AG-7750; the row has A0 80 and 9/8 (reported)"},
      {45, "no edit delay is published for the VDR-1000A: typical 5; the row has 4"},
      {47, "the ZDKR machine's own edit durations start at 8 on and 7 off; the row has 7 and 7"},
      {48, "no edit delay is published for the BR-S822U: typical 5; the row has 7"},
      {51, "a JVC set to report a BVW-75's code: the deck plays the BVW-75"},
      {55, "the generic deck cuts in and out 5 frames late (the typical figure); the row has 4"},
  };
  for (int row : {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 23, 24, 25, 26, 27, 28, 29,
                  30, 31, 32, 33, 34, 35, 36, 37, 39, 42, 43, 44, 46, 49, 50, 52, 53, 54}) {
    reasons[row] = kNoSource;
  }
  for (int row = 0; row < kModelRows - 1; ++row) {
    const VTRBALLISTICS& b = vtrBallistics[row];
    const auto cfg = host::VirtualDeckConfig(std::to_string(row), "ntsc");
    ASSERT_TRUE(cfg.has_value()) << row;
    const Deck deck(*cfg);
    std::string diffs;
    if (deck.ReportedDeviceType() != b.wDeviceType) diffs += " code";
    if (cfg->can_record != (b.fCanRecord != 0)) diffs += " record";
    if ((cfg->can_record && cfg->can_edit) != (b.fCanAuto != 0)) diffs += " auto-edit";
    if (cfg->can_record && b.fCanRecord != 0 &&
        (cfg->edit_on_delay != b.wEditIn || cfg->edit_off_delay != b.wEditOut))
      diffs += " edit-delay";
    if (cfg->personality == &GenericPersonality()) diffs += " generic";
    const bool explained = reasons.contains(row);
    EXPECT_EQ(!diffs.empty(), explained)
        << "row " << row << " " << b.szModel
        << (explained ? " agrees now: drop its reason" : " differs:") << diffs;
  }
}

}  // namespace
}  // namespace vtr::sim
