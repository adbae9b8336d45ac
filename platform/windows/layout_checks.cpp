// Compile-time agreement between the handlers' parameter blocks and what
// winmm's string parser builds from the command table on x64: the callback
// slot and every string or return-buffer slot take 8 bytes, integer and
// constant slots 4, flags none, with no padding between slots; a numeric
// return (table return type 2) takes 4 bytes right after the callback; a text
// return is buffer pointer (8) then size (4). Wine's parser has room for 64
// bytes of slots.
#include <cstddef>

#include "driver/parms.h"

namespace {

constexpr std::size_t kCallback = 8;
constexpr std::size_t kInt = 4;
constexpr std::size_t kPtr = 8;
constexpr std::size_t kParserArea = 64;

static_assert(sizeof(DWORD_PTR) == kCallback && sizeof(DWORD) == kInt && sizeof(LPWSTR) == kPtr);

static_assert(offsetof(VTR_STATUS_PARMS, dwReturn) == kCallback);
static_assert(offsetof(VTR_STATUS_PARMS, dwItem) == kCallback + kInt);
static_assert(offsetof(VTR_STATUS_PARMS, dwTrack) == kCallback + 2 * kInt);

static_assert(offsetof(VTR_GETDEVCAPS_PARMS, dwReturn) == kCallback);
static_assert(offsetof(VTR_GETDEVCAPS_PARMS, dwItem) == kCallback + kInt);

static_assert(offsetof(VTR_INFO_PARMS, lpstrReturn) == kCallback);
static_assert(offsetof(VTR_INFO_PARMS, dwRetSize) == kCallback + kPtr);

static_assert(offsetof(VTR_LIST_PARMS, dwNumber) == kCallback + kInt);
static_assert(offsetof(VTR_ESCAPE_PARMS, lpstrCommand) == kCallback);

static_assert(offsetof(VTR_PLAY_PARMS, dwFrom) == kCallback);
static_assert(offsetof(VTR_PLAY_PARMS, dwAt) == kCallback + 2 * kInt);
static_assert(offsetof(VTR_SEEK_PARMS, dwAt) == kCallback + 2 * kInt);
static_assert(offsetof(VTR_STEP_PARMS, dwFrames) == kCallback);

// "set": fourteen value slots fill the parser's area exactly.
static_assert(offsetof(VTR_SET_PARMS, dwPostrollDuration) == kCallback + 13 * kInt);
static_assert(offsetof(VTR_SET_PARMS, dwPostrollDuration) + kInt == kParserArea);

// "setzdkrvid": twenty-four slots, 104 bytes; Wine's parser cannot fill the
// slots from "sub carrier phase" on (see docs/windows.md).
static_assert(offsetof(VTR_SETZDKRVID_PARMS, dwPChroma) == kCallback + 23 * kInt);
static_assert(offsetof(VTR_SETZDKRVID_PARMS, dwSubCarrierPhase) == kParserArea);

static_assert(offsetof(VTR_GETZDKR_PARMS, dwReturn) == kCallback);

}  // namespace
