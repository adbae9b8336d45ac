// The sense queries. Each sends one sense command without waiting for an
// acknowledgement and reads the answer itself, byte by byte.
#include "link/queries.h"

#include "link/serial.h"
#include "link/timecode.h"
#include "record/parms.h"
#include "record/wait.h"

DWORD statStruct[8];
BYTE tmpChar[4];
DWORD dwChkRtn;

namespace {

// A rejected answer: read on until three bytes have come, then give up.
void drainRejected(HANDLE h, BYTE* buf, int have) {
  if (have < 3) ReadReply(h, buf + have, 3 - have, kReplyBudget);
}

void recordLineError(HANDLE h) { wLastComErr = GetCommError(h, nullptr); }

// Reads the `count` bytes that follow a reply's two-byte header and its
// checksum byte; true only when the header announces `count` data bytes, all
// came and the sum over header and data matches. A reply that fails is not
// believed: one glitch on the line, or the reply to another query, must not
// move the stored position or state.
bool readCheckedTail(HANDLE h, const BYTE* hdr, BYTE* data, int count) {
  if ((hdr[0] & 0x0F) != count) return false;
  unsigned sum = static_cast<unsigned>(hdr[0]) + hdr[1];
  for (int i = 0; i < count; ++i) {
    if (!ReadReplyByte(h, &data[i])) return false;  // the rest would only cost budgets
    sum += data[i];
  }
  BYTE cs = 0;
  if (!ReadReplyByte(h, &cs)) return false;
  dwChkRtn = cs;
  return cs == static_cast<BYTE>(sum & 0xFF);
}

bool bit(DWORD slot, int n) { return ((slot >> n) & 1u) != 0; }

// Tells the caller, and the record, whether the query was answered.
void told(DeviceRecord* rec, bool* pfAnswered, bool answered) {
  rec->sense.fNoAnswer = !answered;
  if (pfAnswered != nullptr) *pfAnswered = answered;
}

// The conditions a "vdr status" wait can ask for, by its flags, in the order
// they are tried, and the VDR status bit that shows each.
struct VdrCondition {
  DWORD dwFlags;
  DWORD dwStatusBit;
};
constexpr DWORD kVdrNextCmdOk = 0x100;
constexpr DWORD kVdrDualPlayOk = 0x200;
constexpr DWORD kVdrStillOk = 0x400;
constexpr VdrCondition kVdrConditions[] = {
    {kVdrNextCmdOk | kVdrDualPlayOk, 0x100},  // both: "play ok"
    {kVdrNextCmdOk, 0x001},
    {kVdrDualPlayOk, 0x080},
    {kVdrStillOk, 0x200},
};

// The VDR status bit a wait with these flags waits for; 0 for none.
DWORD vdrAwaited(DWORD dwFlags) {
  for (const auto& c : kVdrConditions) {
    if ((dwFlags & c.dwFlags) == c.dwFlags) return c.dwStatusBit;
  }
  return 0;
}

}  // namespace

DWORD ComposeStatusWord(const DWORD s[8]) {
  DWORD w = 0;
  if (bit(s[0], 0)) w |= VTR_STAT_LOCAL;
  if (bit(s[0], 2)) w |= VTR_STAT_HARD_ERROR;
  // One priority chain: the first state that matches is the transport state.
  if (bit(s[0], 5) || bit(s[1], 4)) {
    w |= VTR_STAT_NO_TAPE;
  } else if (bit(s[1], 0)) {
    w |= VTR_STAT_PLAY;
  } else if (bit(s[1], 1)) {
    w |= VTR_STAT_RECORD;
  } else if (bit(s[1], 6)) {
    w |= VTR_STAT_S1_BIT6;
  } else if (bit(s[1], 5)) {
    w |= VTR_STAT_STOP;
  } else if (bit(s[2], 1)) {
    w |= VTR_STAT_STILL;
  } else if (bit(s[1], 2)) {
    w |= VTR_STAT_FAST_FORWARD;
  } else if (bit(s[1], 3)) {
    w |= VTR_STAT_REWIND;
  } else if (bit(s[2], 3)) {
    w |= VTR_STAT_VAR;
  } else if (bit(s[2], 4)) {
    w |= VTR_STAT_JOG;
  } else if (bit(s[2], 5)) {
    w |= VTR_STAT_SHUTTLE;
  }
  w |= bit(s[2], 2) ? VTR_STAT_REVERSE : VTR_STAT_FORWARD;
  if (bit(s[2], 7)) w |= VTR_STAT_SERVO_LOCK;
  if (bit(s[2], 0)) w |= VTR_STAT_CUE_COMPLETE;
  if (bit(s[4], 4)) w |= VTR_STAT_EDIT;
  // A second chain for the edit modes.
  if (bit(s[4], 3)) {
    w |= VTR_STAT_REVIEW;
  } else if (bit(s[4], 1)) {
    w |= VTR_STAT_PREVIEW;
  } else if (bit(s[4], 2)) {
    w |= VTR_STAT_AUTO_EDIT;
  } else if (bit(s[4], 0)) {
    w |= VTR_STAT_PREROLL;
  }
  if (bit(s[4], 6)) w |= VTR_STAT_FULL_EE;
  if (bit(s[3], 7)) w |= VTR_STAT_S3_BIT7;
  if (bit(s[3], 0)) w |= VTR_STAT_S3_BIT0;
  if (bit(s[3], 1)) w |= VTR_STAT_S3_BIT1;
  if (bit(s[5], 6)) w |= VTR_STAT_S5_BIT6;
  if (bit(s[5], 5)) w |= VTR_STAT_S5_BIT5;
  if (bit(s[7], 0)) w |= VTR_STAT_S7_BIT0;
  return w;
}

DWORD kestrelGetPosition(DeviceRecord* rec, DWORD fCounter, bool* pfAnswered) {
  LinkGuard link;
  const bool owner = ClaimLink();
  HANDLE h = rec->hComm;

  BYTE source = 4;  // the control-track counter (timer 1)
  if (fCounter == 0 && rec->HasTC != 0) {
    source =
        (rec->TimerSelect >= 1 && rec->TimerSelect <= 4) ? static_cast<BYTE>(rec->TimerSelect) : 3;
  }
  CURTCSENSE_422[3] = source;
  kestrelSendCmd(rec, CURTCSENSE_422, 0);

  BYTE buf[8] = {};
  const int got = ReadReply(h, buf, 2, kReplyBudget);
  if ((buf[0] & 0x70) != 0x70) {
    drainRejected(h, buf, got);
    recordLineError(h);
    ReleaseLink(owner);
    told(rec, pfAnswered, false);
    return rec->dwPosition;
  }
  if (!readCheckedTail(h, buf, &buf[2], 4)) {  // frames .. hours
    recordLineError(h);
    ReleaseLink(owner);
    told(rec, pfAnswered, false);
    return rec->dwPosition;
  }
  rec->dwPosition = readTimecode(&buf[2], rec->Pal, &rec->wTCFormat);
  ReleaseLink(owner);
  told(rec, pfAnswered, true);
  return rec->dwPosition;
}

DWORD kestrelGetStatus(DeviceRecord* rec, bool* pfAnswered) {
  LinkGuard link;
  const bool owner = ClaimLink();
  HANDLE h = rec->hComm;

  STATSENSE_422[3] = 0x08;  // eight status bytes from byte 0
  kestrelSendCmd(rec, STATSENSE_422, 0);

  BYTE hdr[3] = {};
  const int got = ReadReply(h, hdr, 2, kReplyBudget);
  if ((hdr[0] & 0xF0) != 0x70) {
    drainRejected(h, hdr, got);
    recordLineError(h);
    ReleaseLink(owner);
    rec->dwStatus = 0;
    told(rec, pfAnswered, false);
    return 0;
  }
  BYTE data[8] = {};
  if (!readCheckedTail(h, hdr, data, 8)) {
    // Like no answer: the slots keep the last reply that passed.
    recordLineError(h);
    ReleaseLink(owner);
    rec->dwStatus = 0;
    told(rec, pfAnswered, false);
    return 0;
  }
  for (int i = 0; i < 8; ++i) statStruct[i] = data[i];
  rec->dwStatus = ComposeStatusWord(statStruct);
  // The word's chain keeps play where a recording deck shows both.
  rec->sense.fRecordBit = bit(statStruct[1], 1);
  ReleaseLink(owner);
  told(rec, pfAnswered, true);
  return rec->dwStatus;
}

namespace {

// The head both mode chains share: fault, no tape, stop, still, record.
// 0 when none of them matches.
DWORD commonMode(const DWORD* s) {
  if (bit(s[0], 2)) return MCI_MODE_NOT_READY;
  if (bit(s[0], 5)) return MCI_MODE_OPEN;
  if (bit(s[1], 5)) return MCI_MODE_STOP;
  if (bit(s[2], 1)) return MCI_MODE_PAUSE;
  if (bit(s[1], 1)) return MCI_MODE_RECORD;
  return 0;
}

// The rest of the MCI chain: cueing, winding or scanning is seek, then play.
DWORD mciMode(const DWORD* s) {
  if (const DWORD m = commonMode(s)) return m;
  if (bit(s[4], 0) || bit(s[1], 2) || bit(s[1], 3) || bit(s[2], 3) || bit(s[2], 4) ||
      bit(s[2], 5)) {
    return MCI_MODE_SEEK;
  }
  return bit(s[1], 0) ? MCI_MODE_PLAY : VTR_MODE_IDLE;
}

// The extended chain: local control first, then the driver's own winding and
// scanning modes.
DWORD extendedMode(const DWORD* s) {
  if (bit(s[0], 0)) return VTR_MODE_LOCAL;
  if (const DWORD m = commonMode(s)) return m;
  if (bit(s[4], 0)) return MCI_MODE_SEEK;
  if (bit(s[1], 2)) return VTR_MODE_FAST_FORWARD;
  if (bit(s[1], 3)) return VTR_MODE_REWIND;
  const bool scan = bit(s[2], 3) || bit(s[2], 4) || bit(s[2], 5);
  if (!scan) return bit(s[1], 0) ? MCI_MODE_PLAY : VTR_MODE_IDLE;
  return bit(s[2], 2) ? VTR_MODE_SCAN_REVERSE : VTR_MODE_SCAN_FORWARD;
}

}  // namespace

DWORD kestrelGetMode(DeviceRecord* rec, bool* pfAnswered) {
  LinkGuard link;  // statStruct stays ours until decoded
  if (kestrelGetStatus(rec, pfAnswered) == 0) {
    ClearLink();
    return MCI_MODE_NOT_READY;
  }
  rec->dwMode = mciMode(statStruct);
  ClearLink();
  return rec->dwMode;
}

DWORD kestrelGetModeX(DeviceRecord* rec, bool* pfAnswered) {
  LinkGuard link;
  if (kestrelGetStatus(rec, pfAnswered) == 0) {
    ClearLink();
    return rec->dwMode;
  }
  rec->dwMode = extendedMode(statStruct);
  ClearLink();
  return rec->dwMode;
}

DWORD kestrelGetHeader(DeviceRecord* rec, bool* pfAnswered) {
  LinkGuard link;
  ClaimLink();
  HANDLE h = rec->hComm;
  kestrelSendCmd(rec, CURUBSENSE_422, 0);
  BYTE hdr[3] = {};
  const int got = ReadReply(h, hdr, 2, kReplyBudget);
  if ((hdr[0] & 0xF0) != 0x70) {
    drainRejected(h, hdr, got);
    rec->UserBits = 0;
    ClearLink();
    told(rec, pfAnswered, false);
    return 0;
  }
  BYTE b[4] = {};
  if (!readCheckedTail(h, hdr, b, 4)) {
    recordLineError(h);
    ClearLink();
    told(rec, pfAnswered, false);
    return rec->UserBits;
  }
  rec->UserBits = static_cast<DWORD>(b[0]) << 24 | static_cast<DWORD>(b[1]) << 16 |
                  static_cast<DWORD>(b[2]) << 8 | b[3];
  ClearLink();
  told(rec, pfAnswered, true);
  return rec->UserBits;
}

DWORD kestrelSetTimer(DeviceRecord* rec) {
  LinkGuard link;
  ClaimLink();
  HANDLE h = rec->hComm;
  kestrelSendCmd(rec, TMODESENSE_422, 0);
  BYTE hdr[3] = {};
  const int got = ReadReply(h, hdr, 2, kReplyBudget);
  if ((hdr[0] & 0x70) != 0x70) {
    drainRejected(h, hdr, got);
    ClearLink();
    told(rec, nullptr, false);
    return 255;
  }
  BYTE dd = 0xFF;
  const bool passed = readCheckedTail(h, hdr, &dd, 1);
  if (!passed) recordLineError(h);
  ClearLink();
  told(rec, nullptr, passed);
  if (passed && dd == 0) return 1;
  if (passed && dd == 1) return 0;
  return rec->HasTC;
}

DWORD kestrelGetID(DeviceRecord* rec, bool* pfPassed) {
  if (pfPassed != nullptr) *pfPassed = false;
  LinkGuard link;
  ClaimLink();
  HANDLE h = rec->hComm;
  FlushComm(h, 0);
  FlushComm(h, 1);
  kestrelSendCmd(rec, DEV_TYPE_422, 0);
  BYTE hdr[3] = {};
  const int got = ReadReply(h, hdr, 2, kReplyBudget);
  if ((hdr[0] & 0xF0) != 0x10) {
    drainRejected(h, hdr, got);
    rec->VTRID = 0;
    ClearLink();
    return 0;
  }
  BYTE d[2] = {};
  if (!readCheckedTail(h, hdr, d, 2)) {
    recordLineError(h);
    rec->VTRID = 0;
    ClearLink();
    return 0;
  }
  tmpChar[0] = d[0];
  tmpChar[1] = d[1];
  rec->VTRID = static_cast<DWORD>(d[0]) << 8 | d[1];
  if (pfPassed != nullptr) *pfPassed = true;
  ClearLink();
  return rec->VTRID;
}

DWORD kestrelGetStatusVDR(DeviceRecord* rec, DWORD dwFlags) {
  const bool owner = ClaimLink();
  HANDLE h = rec->hComm;
  // A wait that loses its machine, or whose condition does not come, is
  // given up with an error rather than answered as done.
  const DWORD lost = (dwFlags & MCI_WAIT) != 0 ? MCIERR_HARDWARE : 0;
  for (int polls = 1;; ++polls) {
    {
      // The exchange lock is held for each exchange; the busy flag stays set
      // across the one-second waits so the poll keeps to its stored values.
      LinkGuard link;
      STATSENSE_VDR[3] = 0x02;
      kestrelSendCmd(rec, STATSENSE_VDR, 0);
      BYTE b[4] = {};
      const int got = ReadReply(h, b, 2, kReplyBudget);
      if (got < 2) {
        recordLineError(h);
        ReleaseLink(owner);
        return lost;
      }
      if ((b[0] & 0xF0) != 0xF0) {
        drainRejected(h, b, got);
        recordLineError(h);
        ReleaseLink(owner);
        return lost;
      }
      if (!readCheckedTail(h, b, &b[2], 2)) {
        recordLineError(h);
        ReleaseLink(owner);
        return lost;
      }
      const DWORD vdr = static_cast<DWORD>(b[3]) << 8 | b[2];
      if ((dwFlags & MCI_WAIT) == 0) {
        ReleaseLink(owner);
        return 0;
      }
      const DWORD status = kestrelGetStatus(rec);
      if ((status & VTR_STAT_PLAY_ENDED) != 0) {
        kestrelSendCmd(rec, PAUSE_422, 1);
        ReleaseLink(owner);
        return 0;
      }
      const DWORD want = vdrAwaited(dwFlags);
      if (want == 0 || (vdr & want) != 0) {
        ReleaseLink(owner);
        return 0;
      }
      if (polls >= kVdrWaitPolls) {
        ReleaseLink(owner);
        return MCIERR_HARDWARE;
      }
    }
    if (waitTimeOrBreak(rec, 1000)) {
      // Broken before the deck was ready: not an answer of readiness.
      ReleaseLink(owner);
      rec->poll.bWaitEnd = kWaitEndBroken;
      return MCIERR_HARDWARE;
    }
  }
}

MCIERROR kestrelGetStatusZDKR(DeviceRecord* rec, CommandFrame frame, BYTE* lpResult,
                              LPVOID lpParms) {
  LinkGuard link;
  const bool owner = ClaimLink();
  HANDLE h = rec->hComm;
  const MCIERROR err = kestrelSendCmd(rec, frame, 0);
  if (err != 0) {
    ReleaseLink(owner);
    return err;
  }
  BYTE hdr[2] = {};
  const int got = ReadReply(h, hdr, 2, kReplyBudget);
  if (got == 2 && hdr[0] == 0 && hdr[1] == 0) {
    // A machine without the setting may answer all zeros: refused, as by a NAK.
    BYTE rest[2] = {0xFF, 0xFF};
    if (ReadReply(h, rest, 2, kReplyBudget) < 2 || rest[0] != 0 || rest[1] != 0) {
      recordLineError(h);
    }
    ReleaseLink(owner);
    return MCIERR_HARDWARE;
  }
  BYTE value = 0;
  if (got < 2 || !readCheckedTail(h, hdr, &value, 1)) {
    recordLineError(h);
    ReleaseLink(owner);
    return MCIERR_HARDWARE;
  }
  if (hdr[0] == 0x11 && hdr[1] == 0x12 && value == 0x01) {  // NAK: unknown command
    ReleaseLink(owner);
    return MCIERR_HARDWARE;
  }
  *lpResult = value;
  if (lpParms != nullptr) static_cast<VTR_GETZDKR_PARMS*>(lpParms)->dwReturn = value;
  ReleaseLink(owner);
  return 0;
}
