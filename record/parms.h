// Parameter blocks as the string interface lays them out from the command
// table: the callback slot first (pointer-sized), then, in table order, one
// slot per return value, integer, string or constant item. Integer and
// constant slots are 32 bits; callback, string and return-buffer slots are
// pointer-sized; there is no padding between slots. On 32-bit Windows every
// slot is a 32-bit word.
#pragma once

#include "platform/win32.h"

struct VTR_GENERIC_PARMS {
  DWORD_PTR dwCallback;
};

// "status": callback, return value, item, track
struct VTR_STATUS_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwReturn;
  DWORD dwItem;
  DWORD dwTrack;
};

// "capability": callback, return value, item, and two answer words for the
// variable-speed items
struct VTR_GETDEVCAPS_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwReturn;
  DWORD dwItem;
  DWORD dwValue1;
  DWORD dwValue2;
};

// "info": callback, return buffer (UTF-16), buffer size in characters
struct VTR_INFO_PARMS {
  DWORD_PTR dwCallback;
  LPWSTR lpstrReturn;
  DWORD dwRetSize;
};

// "list": callback, return value, number
struct VTR_LIST_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwReturn;
  DWORD dwNumber;
};

// "escape": callback, command string
struct VTR_ESCAPE_PARMS {
  DWORD_PTR dwCallback;
  LPCWSTR lpstrCommand;
};

// "play": callback, from, to, at
struct VTR_PLAY_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwFrom;
  DWORD dwTo;
  DWORD dwAt;
};

// "record": callback, from, to, at
using VTR_RECORD_PARMS = VTR_PLAY_PARMS;

// "cue": callback, from, to
struct VTR_CUE_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwFrom;
  DWORD dwTo;
};

// "seek": callback, to, mark, at
struct VTR_SEEK_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwTo;
  DWORD dwMark;
  DWORD dwAt;
};

// "step": callback, frames
struct VTR_STEP_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwFrames;
};

// "shuttle": callback, factor (signed)
struct VTR_SHUTTLE_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwFactor;
};

// "set": callback and the fourteen value words in table order
struct VTR_SET_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwTimeFormat;
  DWORD dwAudio;
  DWORD dwTimeMode;
  DWORD dwRecordFormat;
  DWORD dwCounterFormat;
  DWORD dwIndex;
  DWORD dwTracking;
  DWORD dwSpeed;
  DWORD dwLength;
  DWORD dwCounter;
  DWORD dwClock;
  DWORD dwPauseTimeout;
  DWORD dwPrerollDuration;
  DWORD dwPostrollDuration;
};

// "setaudio" and "setvideo": callback, track, to, number
struct VTR_SETAV_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwTrack;
  DWORD dwTo;
  DWORD dwNumber;
};

// edit point (0x0C83): callback and nine words
struct VTR_EDIT_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwTrack;
  DWORD dwInPoint;
  DWORD dwOutPoint;
  DWORD dwSrcInPoint;
  DWORD dwSrcOutPoint;
  DWORD dwPreRoll;
  DWORD dwRecPreRoll;
  DWORD dwPostRoll;
  DWORD dwDuration;
};

// edit point status (0x0C84): callback, return value, third word
struct VTR_EDITSTATUS_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwReturn;
  DWORD dwExtra;
};

// stripe (0x0C85): callback, an unread word, start timecode, end position
struct VTR_STRIPE_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwUnused;
  DWORD dwStart;
  DWORD dwEnd;
};

// "setzdkr": callback and seven words
struct VTR_SETZDKR_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwTCType;
  DWORD dwGenlock;
  DWORD dwGenlockType;
  DWORD dwVTRType;
  DWORD dwQuality;
  DWORD dwEditOnDur;
  DWORD dwEditOffDur;
};

// "setzdkrvid": callback and twenty-four words
struct VTR_SETZDKRVID_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwInput;
  DWORD dwLuminance;
  DWORD dwLumaCoring;
  DWORD dwEncoderChromaBand;
  DWORD dwOutBlankPedestal;
  DWORD dwOutCoring;
  DWORD dwChromaHue;
  DWORD dwChromaSaturation;
  DWORD dwChromaUSaturation;
  DWORD dwChromaVSaturation;
  DWORD dwBrightness;
  DWORD dwContrastBrightness;
  DWORD dwSharpness;
  DWORD dwHorizontalPhase;
  DWORD dwSubCarrierPhase;
  DWORD dwOutPeaking;
  DWORD dwSetup;
  DWORD dwVideo;
  DWORD dwHue;
  DWORD dwChroma;
  DWORD dwPSetup;
  DWORD dwPVideo;
  DWORD dwPHue;
  DWORD dwPChroma;
};

// "setzdkraud": callback, level, three channel words
struct VTR_SETZDKRAUD_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwLevel;
  DWORD dwAudioInChannel;
  DWORD dwAudioOutChannel;
  DWORD dwAudioPlayChannel;
};

// "getzdkr", "getzdkrvid", "getzdkraud": callback, return value, channel
struct VTR_GETZDKR_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwReturn;
  DWORD dwChannel;
};

// "vdr": callback, return value, sub-command
struct VTR_VDR_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwReturn;
  DWORD dwCommand;
};
