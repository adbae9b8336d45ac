// The MCI handlers, one table per family (transport, record and edit, set,
// extended). A row gives the flags and block words in, the record (or the
// deck) before, and the result, the commands on the wire and what follows.
#include <gtest/gtest.h>

#include <functional>

#include "commands/handlers.h"
#include "link/frames.h"
#include "link/timecode.h"
#include "monitor/poll.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

using vtr::sim::Family;

struct Block {
  DWORD_PTR callback = 0x42;
  DWORD words[32] = {};
};

using Before = std::function<void(DeviceRecord&)>;
using After = std::function<void(const DeviceRecord&, const Block&)>;

struct Row {
  const char* what;
  UINT msg;
  DWORD flags;
  std::vector<DWORD> words;  // after the callback
  DWORD result = 0;
  std::vector<std::string> wire;  // commands sent, "NAME bytes" without the checksum
  Before before = nullptr;
  After after = nullptr;
  Family family = Family::kZdkr;
};

// Row helpers: a record field set before, a field or a block word checked after.
template <typename T, typename V>
Before Set(T DeviceRecord::*field, V value) {
  return [=](DeviceRecord& r) { r.*field = static_cast<T>(value); };
}
template <typename T, typename V>
After Is(T DeviceRecord::*field, V value) {
  return [=](const DeviceRecord& r, const Block&) { EXPECT_EQ(r.*field, static_cast<T>(value)); };
}
After Word(std::size_t i, DWORD value) {
  return [=](const DeviceRecord&, const Block& b) { EXPECT_EQ(b.words[i], value) << "word " << i; };
}
template <typename F>
F All(std::vector<F> parts) {
  return [=](auto&... args) {
    for (const F& f : parts) f(args...);
  };
}

class HandlerFamilies : public DriverFixture {
 protected:
  vtr::sim::DeckConfig DeckSetup() override {
    auto cfg = DriverFixture::DeckSetup();
    cfg.family = family_;
    return cfg;
  }
  // A freshly loaded driver and opened device on a deck of `family`.
  void Fresh(Family family) {
    TearDown();
    family_ = family;
    SetUp();
    OpenQuietly();
  }
  void RunTable(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      SCOPED_TRACE(r.what);
      Fresh(r.family);
      if (r.before) r.before(*Record());
      Block block;
      std::copy(r.words.begin(), r.words.end(), block.words);
      EXPECT_EQ(Send(r.msg, r.flags, &block), r.result);
      EXPECT_EQ(Commands(true), r.wire);
      if (r.after) r.after(*Record(), block);
    }
  }
  // The notifications so far are `codes`.
  After Notes(std::vector<UINT> codes) {
    return [=, this](const DeviceRecord&, const Block&) { EXPECT_EQ(Statuses(), codes); };
  }
  // The poll takes the deck to `position` and notifies success.
  After Arrives(DWORD position) {
    return [=, this](const DeviceRecord&, const Block&) {
      RunUntil([&] { return !host_.Notifications().empty(); }, 20000);
      EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUCCESSFUL});
      EXPECT_EQ(deck_->State().position, position);
    };
  }
  // The deck moving by `msg` (play, shuttle) before the row's command.
  Before Moving(UINT msg, DWORD flags) {
    return [=, this](DeviceRecord&) {
      VTR_SHUTTLE_PARMS p{0, 10};
      Send(msg, flags, &p);
      Run(400);
      deck_->ClearTrace();
    };
  }
  Family family_ = Family::kZdkr;
};

// The entry's data byte after the command.
After Entry(const BYTE* frame, BYTE value) {
  return [=](const DeviceRecord&, const Block&) { EXPECT_EQ(frame[3], value); };
}

constexpr UINT kEdit = MCI_VTR_EDIT, kEditStatus = MCI_VTR_EDIT_STATUS, kStripe = MCI_VTR_STRIPE;
constexpr UINT kShuttle = MCI_VTR_SHUTTLE;
using R = DeviceRecord;

// Words of "play": from, to, at; "step": frames; "shuttle": factor; "seek": to, mark,
// at; "cue": from, to. Speeds outside 951..1049 shuttle by the speed table; "ok"
// from a cue or seek to a position is the poll's, on arrival.
TEST_F(HandlerFamilies, Transport) {
  const Before nak = [this](R&) { deck_->InjectFault({.kind = vtr::sim::FaultKind::kNak}); };
  // clang-format off
  RunTable({
      {"play at 2000 shuttles, and notifies", MCI_PLAY, MCI_NOTIFY, {}, 0, {"SHTL_FWD_422 21 13 79"},
       Set(&R::dwSpeed, 2000), Notes({MCI_NOTIFY_SUCCESSFUL})},
      {"play at 1000", MCI_PLAY, MCI_NOTIFY, {}, 0, {"PLAY_422 20 01"}, nullptr, Notes({MCI_NOTIFY_SUCCESSFUL})},
      {"play reverse at 1000", MCI_PLAY, 0x10000, {}, 0, {"SHTL_REV_422 21 23 40"}},
      {"play at 950 is factor 6", MCI_PLAY, 0, {}, 0, {"SHTL_FWD_422 21 13 36"}, Set(&R::dwSpeed, 950)},
      {"play reverse below 143 is factor 0, forward", MCI_PLAY, 0x10000, {}, 0, {"SHTL_FWD_422 21 13 05"},
       Set(&R::dwSpeed, 100)},
      {"play from and reverse is a plain play", MCI_PLAY, MCI_FROM | 0x10000, {300}, 0, {"PLAY_422 20 01"}},
      {"play scan leaves 0x66 in the entry", MCI_PLAY, 0x40000, {}, 0, {"SHTL_FWD_422 21 13 66"}, nullptr,
       Entry(SHTL_FWD_422, 0x66)},
      {"shuttle 40 is 15, in the block too; 0x60 put back", kShuttle, 0x10000, {40}, 0, {"SHTL_FWD_422 21 13 83"},
       nullptr, All<After>({Word(0, 15), Entry(SHTL_FWD_422, 0x60)})},
      {"shuttle -3", kShuttle, 0x10000, {static_cast<DWORD>(-3)}, 0, {"SHTL_REV_422 21 23 19"}, nullptr,
       Entry(SHTL_REV_422, 0x60)},
      {"shuttle without a factor", kShuttle, 0, {}, MCIERR_MISSING_PARAMETER, {}},
      {"a refused shuttle answers 0", kShuttle, 0x10000, {1}, 0, {"SHTL_FWD_422 21 13 05"}, nak},
      {"ff from stop winds", MCI_VTR_FF, 0, {}, 0, {"FAST_FWD_422 20 10"}},
      {"ff while playing shuttles at the stored speed", MCI_VTR_FF, 0, {}, 0, {"SHTL_FWD_422 21 13 60"},
       Moving(MCI_PLAY, 0)},
      {"ff while shuttling forward winds", MCI_VTR_FF, 0, {}, 0, {"FAST_FWD_422 20 10"}, Moving(kShuttle, 0x10000)},
      {"rw from stop winds", MCI_VTR_RW, 0, {}, 0, {"FAST_REV_422 20 20"}},
      {"step by 5 cues from the position read", MCI_STEP, 0x10000, {5}, 0,
       {"PAUSE_422 21 13 00", "CUE_DATA_422 24 31 15 33 00 00"}, [this](R&) { deck_->SetPosition(1000); }},
      {"step", MCI_STEP, 0, {}, 0, {"PAUSE_422 21 13 00", "STEP_FWD_422 20 14"}},
      {"step reverse", MCI_STEP, 0x20000, {}, 0, {"PAUSE_422 21 13 00", "STEP_REV_422 20 24"}},
      {"seek with only reverse", MCI_SEEK, 0x10000 | MCI_NOTIFY, {300}, MCIERR_UNSUPPORTED_FUNCTION, {}, nullptr,
       Notes({MCI_NOTIFY_FAILURE})},
      {"seek to a position", MCI_SEEK, MCI_TO | MCI_NOTIFY, {300}, 0,
       {"PAUSE_422 21 13 00", "CUE_DATA_422 24 31 00 10 00 00"}, nullptr, Arrives(300)},
      {"cue to the in point less a pre-roll it cannot hold", MCI_CUE, MCI_NOTIFY, {}, MCIERR_BAD_INTEGER, {},
       Set(&R::dwInPoint, 250), Notes({MCI_NOTIFY_FAILURE})},
      {"cue to the in point less the record pre-roll", MCI_CUE, MCI_NOTIFY, {}, 0, {"CUE_DATA_422 24 31 10 04 00 00"},
       All<Before>({Set(&R::dwInPoint, 250), Set(&R::fUseRecPreRoll, 1)}), Arrives(130)},
      {"pause and wait: the still is what the wait looks for", MCI_PAUSE, MCI_WAIT, {}, 0, {"PAUSE_422 21 13 00"}},
      {"freeze", MCI_FREEZE, 0, {}, 0, {"PAUSE_422 21 13 00"}},
      {"unfreeze", MCI_UNFREEZE, 0, {}, 0, {"PAUSE_422 21 13 00"}},
  });
  // clang-format on
}

// Words of "edit": track, in, out, source in, source out, preroll, record preroll, postroll,
// duration; of "record": from, to; of stripe: unread, start, end.
TEST_F(HandlerFamilies, RecordAndEdit) {
  const std::vector<std::string> kStripeHead{"FAST_REV_422 20 20", "UBPRE_422 44 05 00 00 00 00",
                                             "EDITPRE_422 41 30 35"};
  const auto stripe = [&](const char* tcpre) {
    auto wire = kStripeHead;
    wire.push_back(tcpre);
    return wire;
  };
  // clang-format off
  RunTable({
      {"track 0x13 inserts video and both audio channels", kEdit, 0x10000, {0x13}, 0, {"EDITPRE_422 41 30 53"}, nullptr,
       All<After>({Is(&R::dwInsertAudio, 3), Is(&R::fInsertVideo, 1), Is(&R::fInsertTC, 0)})},
      {"track 0x13 under assemble", kEdit, 0x10000, {0x13}, 0, {"EDITPRE_422 41 30 20"}, Set(&R::fAssembleRecord, 1)},
      {"in point, then out: duration", kEdit, 0x200000, {0, 0, 450}, 0, {"OUTDATA_422 44 15 00 15 00 00"},
       Set(&R::dwInPoint, 300), Is(&R::dwDuration, 150)},
      {"out point, then in: the same duration", kEdit, 0x100000, {0, 300}, 0, {"INDATA_422 44 14 00 10 00 00"},
       Set(&R::dwOutPoint, 450), Is(&R::dwDuration, 150)},
      {"duration from the in point sends the out point as frames", kEdit, 0x400000, {0, 0, 0, 0, 0, 0, 0, 0, 60}, 0,
       {"OUTDATA_422 44 15 00 12 00 00"},
       All<Before>({Set(&R::dwInPoint, 300), Set(&R::dwTimeFormat, MCI_FORMAT_MILLISECONDS)}), Is(&R::dwOutPoint, 360)},
      {"duration without points is only stored", kEdit, 0x400000, {0, 0, 0, 0, 0, 0, 0, 0, 60}, 0, {}, nullptr,
       Is(&R::dwDuration, 60)},
      {"a flag with notify is 273 and changes nothing", kEdit, 0x100000 | MCI_NOTIFY, {0, 300}, MCIERR_MISSING_PARAMETER,
       {}, nullptr, Is(&R::dwInPoint, 0)},
      {"two flags are 273", kEdit, 0x300000, {0, 300, 400}, MCIERR_MISSING_PARAMETER, {}},
      {"no traffic when CanEdit is 0", kEdit, 0x100000, {0, 300}, 0, {}, Set(&R::CanEdit, 0), Is(&R::dwInPoint, 300)},
      {"preroll", kEdit, 0x800000, {0, 0, 0, 0, 0, 90}, 0, {"PRETIME_422 44 31 00 03 00 00"}, nullptr,
       Is(&R::PreRoll, 90)},
      {"postroll is stored twice and not sent", kEdit, 0x1000000, {0, 0, 0, 0, 0, 0, 0, 45}, 0, {}, nullptr,
       All<After>({Is(&R::PostRoll, 45), Is(&R::RecPostRoll, 45)})},
      {"reset", kEdit, 0x2000000, {}, 0,
       {"INFLAGRST_422 40 20", "OUTFLAGRST_422 40 21", "PRETIME_422 44 31 00 10 00 00", "EDITPRE_422 41 30 00"},
       All<Before>({Set(&R::dwInPoint, 300), Set(&R::dwOutPoint, 450), Set(&R::dwDuration, 150),
                    Set(&R::fAssembleRecord, 1), Set(&R::fInsertVideo, 1), Set(&R::dwInsertAudio, 3)}),
       All<After>({Is(&R::dwInPoint, 0), Is(&R::dwOutPoint, 0), Is(&R::dwDuration, 0), Is(&R::fAssembleRecord, 0),
                   Is(&R::PreRoll, 300), Is(&R::dwInsertAudio, 0), Is(&R::fInsertVideo, 1)})},
      {"assemble", kEdit, 0x80000000, {}, 0, {"EDITPRE_422 41 30 20"}, nullptr, Is(&R::fAssembleRecord, 1)},
      {"status of the duration also sets the third word", kEditStatus, 0x400000, {}, 0, {}, Set(&R::dwDuration, 150),
       All<After>({Word(0, 150), Word(1, 0x10000)})},
      {"status of two items is 273", kEditStatus, 0x300000, {}, MCIERR_MISSING_PARAMETER, {}},
      {"record to alone ends EditOut frames early", MCI_RECORD, MCI_TO, {0, 450}, 0, {}, nullptr,
       All<After>({Is(&R::dwPendingState, kStateRecordTo), Is(&R::dwPendingTo, 446)})},
      {"record from-to without CanEdit ends EditOut frames late", MCI_RECORD, MCI_FROM | MCI_TO, {300, 450}, 0, {},
       Set(&R::CanEdit, 0),
       All<After>({Is(&R::dwPendingState, kStateRecordFrom), Is(&R::dwNextState, kStateRecordTo), Is(&R::dwNextTo, 454)})},
      {"record from-to without automatic edit only arms the preset", MCI_RECORD, MCI_FROM | MCI_TO, {300, 450}, 0,
       {"EDITPRE_422 41 30 53"}, Set(&R::CanAuto, 0), Is(&R::dwPendingState, kStateNone)},
      {"record from-to with automatic edit", MCI_RECORD, MCI_FROM | MCI_TO, {300, 450}, 0,
       {"EDITPRE_422 41 30 53", "INDATA_422 44 14 00 10 00 00", "OUTDATA_422 44 15 00 15 00 00", "AUTOEDIT_422 20 42"},
       nullptr, Is(&R::dwPendingState, kStateAutoEdit)},
      {"record initialize stripes from zero and records without waiting", MCI_RECORD, 0x10000 | MCI_WAIT, {}, 0,
       {kStripeHead[0], kStripeHead[1], kStripeHead[2], "TCPRE_422 44 04 00 00 00 00", "REC_422 20 02"}},
      {"record preview is unsupported", MCI_RECORD, 0x40000, {}, MCIERR_UNSUPPORTED_FUNCTION, {}},
      {"stripe end at 2392000 counts as absent", kStripe, 0x30000, {0, 108000, 2392000}, 0,
       stripe("TCPRE_422 44 04 00 00 00 01"), nullptr,
       All<After>({Is(&R::dwPendingTo, 0), Is(&R::dwPendingState, kStateStripeRewind)})},
      {"stripe end below the limit, start absent", kStripe, 0x20000, {0, 108000, 1800}, 0,
       stripe("TCPRE_422 44 04 00 00 00 00"), nullptr, Is(&R::dwPendingTo, 1800)},
      {"calibrate rewinds and hands over", MCI_VTR_CALIBRATE, 0, {}, 0, {"FAST_REV_422 20 20"}, nullptr,
       Is(&R::dwPendingState, kStateCalibrateRewind)},
  });
  // clang-format on
}

// Words of "set": time format, audio, time mode, record format, counter format, index,
// tracking, speed, length, counter, ...; of setaudio: track.
TEST_F(HandlerFamilies, Set) {
  const auto timeMode = [](DWORD value, DWORD ltc, DWORD vtc, DWORD tc, const char* wire,
                           WORD select, DWORD result = 0) {
    return Row{"time mode",
               MCI_SET,
               0x10000,
               {0, 0, value},
               result,
               wire ? std::vector<std::string>{wire} : std::vector<std::string>{},
               All<Before>({Set(&R::HasLTC, ltc), Set(&R::HasVTC, vtc), Set(&R::HasTC, tc),
                            Set(&R::TimerSelect, 9)}),
               Is(&R::TimerSelect, select)};
  };
  const char* kTc = "TIMEMODE_422 41 36 00";
  const char* kTimer = "TIMEMODE_422 41 36 01";
  // clang-format off
  RunTable({
      {"speed is only stored", MCI_SET, 0x800000, {0, 0, 0, 0, 0, 0, 0, 500}, 0, {}, nullptr, Is(&R::dwSpeed, 500)},
      {"door open ejects", MCI_SET, 0x100, {}, 0, {"EJECT_422 20 0F"}},
      {"time format 9 is refused", MCI_SET, 0x400, {9}, MCIERR_BAD_INTEGER, {}, nullptr, Is(&R::dwTimeFormat, 3)},
      {"time format 10 is taken", MCI_SET, 0x400, {10}, 0, {}, nullptr, Is(&R::dwTimeFormat, 10)},
      {"counter format 8 is refused", MCI_SET, 0x80000, {0, 0, 0, 0, 8}, MCIERR_BAD_INTEGER, {}, nullptr,
       Is(&R::dwCounterFormat, 3)},
      {"audio all is unsupported", MCI_SET, 0x800, {0, 0}, MCIERR_UNSUPPORTED_FUNCTION, {}},
      {"audio 5 is a bad integer", MCI_SET, 0x800, {0, 5}, MCIERR_BAD_INTEGER, {}},
      {"a later step's result wins over audio", MCI_SET, 0x800 | 0x10000, {0, 0, 0x50D}, 0, {kTimer}},
      timeMode(0x50C, 1, 1, 0, nullptr, 9, MCIERR_MISSING_PARAMETER),
      timeMode(0x50C, 1, 1, 1, kTc, 3),
      timeMode(0x50C, 0, 1, 1, kTc, 2),
      timeMode(0x50C, 0, 0, 1, kTc, 1),
      timeMode(0x50D, 1, 1, 1, kTimer, 4),
      timeMode(0x50E, 1, 1, 0, kTc, 3),
      timeMode(0x50E, 0, 1, 0, kTc, 2),
      timeMode(0x50E, 1, 0, 0, kTc, 1),
      timeMode(0x50E, 0, 0, 0, kTimer, 4),
      timeMode(0x50F, 1, 1, 1, nullptr, 9, MCIERR_MISSING_PARAMETER),
      {"counter is read in the time format", MCI_SET, 0x2000000, {0, 0, 0, 0, 0, 0, 0, 0, 0, 300}, 0,
       {"TIMER1PRE_422 44 00 00 10 00 00"}, Set(&R::dwCounterFormat, MCI_FORMAT_SMPTE_30)},
      {"assemble on without CanAssemble", MCI_SET, 0x200000 | 0x2000, {}, MCIERR_UNSUPPORTED_FUNCTION, {},
       All<Before>({Set(&R::CanAssemble, 0), Set(&R::fAssembleRecord, 1)}), Is(&R::fAssembleRecord, 0)},
      {"assemble on", MCI_SET, 0x200000 | 0x2000, {}, 0, {}, nullptr, Is(&R::fAssembleRecord, 1)},
      {"power, which no deck is told, is unsupported, not ok", MCI_SET, 0x20000, {}, MCIERR_UNSUPPORTED_FUNCTION, {}},
      {"door closed, tracking, clock, pause timeout, pre- and postroll duration, off: no effect", MCI_SET,
       0x200 | 0x400000 | 0x4000000 | 0x8000000 | 0x10000000 | 0x20000000 | 0x4000, {}, 0, {}},
      {"setaudio record track 2 on", MCI_SETAUDIO, 0x10000 | 0x2000, {2}, 0, {"EDITPRE_422 41 30 52"},
       Set(&R::fInsertVideo, 1), Is(&R::dwInsertAudio, 2)},
      {"setaudio track 0", MCI_SETAUDIO, 0x10000 | 0x2000, {0}, MCIERR_OUTOFRANGE, {}},
      {"setaudio track above AudioTracks", MCI_SETAUDIO, 0x10000, {3}, MCIERR_OUTOFRANGE, {}},
      {"setvideo record off", MCI_SETVIDEO, 0x10000 | 0x4000, {}, 0, {"EDITPRE_422 41 30 41"},
       All<Before>({Set(&R::fInsertVideo, 1), Set(&R::dwInsertAudio, 1)}), Is(&R::fInsertVideo, 0)},
  });
  // clang-format on
}

constexpr UINT kSetZ = MCI_VTR_SETZDKR, kVid = MCI_VTR_SETZDKRVID, kAud = MCI_VTR_SETZDKRAUD;
constexpr UINT kVdr = MCI_VTR_VDR;

// Words of "setzdkr": tc type, genlock, type genlock, vtr type, quality, edit on, edit off; of
// "setzdkrvid": input, luminance, ..., out coring (5), ..., setup (16), video (17); of
// "setzdkraud": level, in, out, play channel; of the gets: return, channel.
TEST_F(HandlerFamilies, Extended) {
  // clang-format off
  std::vector<Row> rows{
      {"quality 150 becomes 50, in the block too", kSetZ, 0x400, {0, 0, 0, 0, 150}, 0, {"SETZDKR_QUALITY C1 1A 32"},
       nullptr, Word(4, 50)},
      {"edit on 6 becomes 8", kSetZ, 0x700, {0, 0, 0, 0, 0, 6}, 0, {"SETZDKR_EDIT_ON_DUR C1 38 08"}},
      {"edit off 31 becomes 7", kSetZ, 0x800, {0, 0, 0, 0, 0, 0, 31}, 0, {"SETZDKR_EDIT_OFF_DUR C1 3A 07"}},
      {"tc type 0x30 is limited to 1", kSetZ, 0x300, {0x30}, 0, {"SETZDKR_TC_TYPE C1 18 01"}},
      {"shutdown", kSetZ, 0x1C00, {}, 0, {"SETZDKR_SHUTDOWN_DEVICE C0 EF"}},
      {"a selector outside the table", kSetZ, 0x200, {}, MCIERR_BAD_INTEGER, {}},
      {"out coring 0x30 becomes 1", kVid, 0x1700, {0, 0, 0, 0, 0, 0x30}, 0, {"SETZDKR_COMP_OUT_CORING C1 8C 01"}},
      {"video 300 becomes 127, setup untouched", kVid, 0x1E00, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 300},
       0, {"SETZDKR_VIDEO C1 50 7F"}, nullptr, All<After>({Word(17, 127), Word(16, 7)})},
      {"audio out channel 40 and level 300", kAud, 0x1A00, {300, 0, 40}, 0, {"SETZDKR_AUDIO_OUT_LEVEL C2 9C 01 7F"},
       nullptr, All<After>({Word(0, 127), Word(2, 1)})},
      {"vdr 0x70 is refused", kVdr, 0, {0, 0x70}, MCIERR_BAD_INTEGER, {}, nullptr, nullptr, Family::kVdr},
      {"vdr status queries once", kVdr, 0, {0, 0x10}, 0, {"STATSENSE_VDR E1 11 02"}, nullptr, nullptr, Family::kVdr},
      {"vdr autoplay", kVdr, 0, {0, 0x20}, 0, {"VDR_AUTOPLAY E0 15"}, nullptr, nullptr, Family::kVdr},
      {"vdr automode off", kVdr, 0, {0, 0x60}, 0, {"VDR_AUTOMODE_OFF 40 40"}, nullptr, nullptr, Family::kVdr},
  };
  // A get answers the same under any of the three get messages.
  for (UINT get : {MCI_VTR_GETZDKR, MCI_VTR_GETZDKRVID, MCI_VTR_GETZDKRAUD}) {
    rows.push_back({"get audio in level of channel 2", get, 0x1B00, {0, 2}, 0, {"GETZDKR_AUDIO_IN_LEVEL C1 93 02"},
                    nullptr, [](const R& r, const Block& b) {
                      EXPECT_EQ(r.abZDKRReply[33], 2);
                      EXPECT_EQ(r.abZDKRReply[34], b.words[0]);
                    }});
    rows.push_back({"get is it zdkr", get, 0x2700, {}, 0, {}, nullptr, Word(0, 1)});
  }
  // clang-format on
  RunTable(rows);
}

}  // namespace
}  // namespace vtr::test
