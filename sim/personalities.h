// The machines the virtual deck can be. Each personality is what the deck
// knows of one model from its maker's published protocol and operation
// manuals and from public descriptions of the protocol (docs/vtrsim.md names
// them): the device type it reports on 525/60 and on 625/50, whether it
// records and runs edits itself, its edit delay, preroll and speeds.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vtr::sim {

// Which vendor extensions the machine answers besides the standard set.
enum class Family { kAuto, kStandard, kZdkr, kVdr };

struct Personality {
  const char* name;        // "BVW-75"
  const char* maker;       // "Sony"
  std::uint16_t type_525;  // device type reply on a 525/60 machine
  std::uint16_t type_625;  // on a 625/50 machine
  Family family;
  bool records;  // a recorder; a player refuses REC, EDIT ON/OFF and the presets of recording
  bool edits;    // runs edits itself: PREVIEW, REVIEW, AUTO EDIT
  bool vitc;     // has a VITC reader
  int edit_on;   // frames a controller's REC or EDIT ON takes to reach the tape
  int edit_off;  // frames an EDIT OFF takes
  int preroll_seconds;  // preroll time as the machine comes
  double wind;          // fast forward and rewind, times play
  double shuttle;       // shuttle and jog limit, times play
  double var;           // var limit, times play
};

std::span<const Personality> Personalities();
// By name, any case; nullptr when the deck does not know it.
const Personality* FindPersonality(std::string_view name);
// By either standard's device type code.
const Personality* FindPersonalityByType(std::uint16_t code);
// A deck for codes the table does not know: a Sony/SMPTE recorder that edits.
const Personality& GenericPersonality();
// The deck when nothing is said: a BVW-75.
const Personality& DefaultPersonality();

}  // namespace vtr::sim
