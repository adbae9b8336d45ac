// Compile-time agreement between the handlers' parameter blocks and what
// winmm's string parser builds from the command table, for both module
// widths: the callback slot and every string or return-buffer slot are
// pointer-sized (8 bytes on x64, 4 on x86), integer and constant slots 4,
// flags none, with no padding between slots; a numeric return (table return
// type 2) takes 4 bytes right after the callback; a text return is buffer
// pointer then size (4). Each offset is written out for both widths so that
// the x86 build checks the 32-bit layout and the x64 build the 64-bit one.
// Wine's parser has room for 64 bytes of slots on either width.
#include <cstddef>

#include "record/parms.h"

namespace {

constexpr std::size_t kPtr = sizeof(void*);
static_assert(kPtr == 8 || kPtr == 4, "the module is built for x64 or x86");
static_assert(sizeof(DWORD_PTR) == kPtr && sizeof(LPWSTR) == kPtr && sizeof(DWORD) == 4);

// The expected offset on each width.
constexpr std::size_t at(std::size_t x64, std::size_t x86) { return kPtr == 8 ? x64 : x86; }
constexpr std::size_t kParserArea = 64;

static_assert(offsetof(VTR_STATUS_PARMS, dwReturn) == at(8, 4));
static_assert(offsetof(VTR_STATUS_PARMS, dwItem) == at(12, 8));
static_assert(offsetof(VTR_STATUS_PARMS, dwTrack) == at(16, 12));

static_assert(offsetof(VTR_GETDEVCAPS_PARMS, dwReturn) == at(8, 4));
static_assert(offsetof(VTR_GETDEVCAPS_PARMS, dwItem) == at(12, 8));

static_assert(offsetof(VTR_INFO_PARMS, lpstrReturn) == at(8, 4));
static_assert(offsetof(VTR_INFO_PARMS, dwRetSize) == at(16, 8));

static_assert(offsetof(VTR_LIST_PARMS, dwNumber) == at(12, 8));
static_assert(offsetof(VTR_ESCAPE_PARMS, lpstrCommand) == at(8, 4));

static_assert(offsetof(VTR_PLAY_PARMS, dwFrom) == at(8, 4));
static_assert(offsetof(VTR_PLAY_PARMS, dwAt) == at(16, 12));
static_assert(offsetof(VTR_SEEK_PARMS, dwAt) == at(16, 12));
static_assert(offsetof(VTR_STEP_PARMS, dwFrames) == at(8, 4));

// "set": fourteen value slots fill the parser's area exactly on x64 and
// leave one word free on x86.
static_assert(offsetof(VTR_SET_PARMS, dwPostrollDuration) == at(60, 56));
static_assert(offsetof(VTR_SET_PARMS, dwPostrollDuration) + 4 <= kParserArea);

// "setzdkrvid": twenty-four slots (104 bytes on x64, 100 on x86); Wine's
// parser cannot fill the slots from "sub carrier phase" on (x64) or from
// "out peaking" on (x86) (see docs/windows.md).
static_assert(offsetof(VTR_SETZDKRVID_PARMS, dwPChroma) == at(100, 96));
static_assert(offsetof(VTR_SETZDKRVID_PARMS, dwSubCarrierPhase) == at(kParserArea, 60));
static_assert(offsetof(VTR_SETZDKRVID_PARMS, dwOutPeaking) == at(68, kParserArea));

static_assert(offsetof(VTR_GETZDKR_PARMS, dwReturn) == at(8, 4));

}  // namespace
