#include "sim/machine.h"

#include <algorithm>
#include <cmath>

namespace vtr::sim {
namespace {

// A cue-up slows down over the last half second of search-speed travel.
constexpr double kSlowdownSeconds = 0.5;
// Step of the slowdown integration.
constexpr Micros kCueStep{5000};
constexpr Micros kEjectTime{1000000};

bool Moving(TransportMode m) { return m == TransportMode::kPlay || m == TransportMode::kRecord; }
bool Scanning(TransportMode m) {
  return m == TransportMode::kShuttle || m == TransportMode::kJog || m == TransportMode::kVar;
}
std::uint8_t Bit(bool on, int bit) { return static_cast<std::uint8_t>(on ? 1u << bit : 0u); }

}  // namespace

Machine::Machine(const DeckConfig& config)
    : preroll_frames(config.preroll_frames.value_or(
          static_cast<std::uint32_t>(config.personality->preroll_seconds) *
          static_cast<std::uint32_t>(RateOf(config.standard).fps))),
      config_(config),
      rate_(RateOf(config.standard)),
      mode_(config.tape_loaded ? TransportMode::kStop : TransportMode::kNoTape),
      shown_before_(mode_),
      pos_(std::min(config.position, config.tape_frames)) {
  timer_mode = config.has_timecode ? 0 : 1;
  edit_on_delay = config.edit_on_delay;
  edit_off_delay = config.edit_off_delay;
}

bool Machine::Accepts() {
  if (local_ && config_.strict.local) return false;
  if (mode_ == TransportMode::kEject) return false;
  if (mode_ == TransportMode::kNoTape) {
    if (config_.strict.tape) return false;
    Load(0);
  }
  return true;
}

bool Machine::ServoLocked() const { return !config_.strict.servo || now_ >= locked_at_; }

bool Machine::BetweenInAndOut() const {
  return (run_ == EditRun::kAutoEdit || run_ == EditRun::kPreview) && phase_ == Phase::kEditing;
}

double Machine::MotionSpeed() const {
  switch (mode_) {
    case TransportMode::kPlay:
    case TransportMode::kRecord:
      return 1.0;
    case TransportMode::kFastForward:
      return config_.wind_speed;
    case TransportMode::kRewind:
      return -config_.wind_speed;
    case TransportMode::kShuttle:
    case TransportMode::kJog:
    case TransportMode::kVar:
      return scan_speed_;
    case TransportMode::kCue: {
      const double d = std::abs(cue_target_ - pos_);
      const double v = std::clamp(d / (rate_.real_fps * kSlowdownSeconds), 1.0, config_.wind_speed);
      return cue_target_ < pos_ ? -v : v;
    }
    default:
      return 0.0;
  }
}

double Machine::Speed() const { return MotionSpeed(); }
bool Machine::Slow() const { return std::abs(MotionSpeed()) < 0.25; }

std::optional<double> Machine::EventPosition() const {
  if (run_ == EditRun::kNone || !Moving(mode_)) return std::nullopt;
  switch (phase_) {
    case Phase::kRolling:
      return run_in_;
    case Phase::kEditing:
      if (run_out_ < 0) return std::nullopt;
      return run_out_;
    case Phase::kPostroll:
      return run_out_ + config_.postroll_frames;
    default:
      return std::nullopt;
  }
}

void Machine::Update(Micros now) {
  const double fps = rate_.real_fps;
  // Every pass reaches `now` or changes phase; the bound only guards a hang.
  for (int passes = 0; now_ < now && passes < 1000000; ++passes) {
    if (mode_ == TransportMode::kEject) {
      if (now < eject_done_) break;
      now_ = std::max(now_, eject_done_);
      SetMode(TransportMode::kNoTape);
      continue;
    }
    const double v = MotionSpeed();
    if (v == 0.0) break;
    Micros span = now - now_;
    const double limit = v > 0 ? static_cast<double>(config_.tape_frames) : 0.0;
    double stop = limit;
    enum { kLimit, kEvent, kNothing } at = kLimit;
    if (mode_ == TransportMode::kCue) {
      const double zone = config_.wind_speed * fps * kSlowdownSeconds;
      const double d = std::abs(cue_target_ - pos_);
      if (d > zone + 1e-6) {
        stop = cue_target_ - (v > 0 ? zone : -zone);
        at = kNothing;
      } else {
        stop = cue_target_;
        at = kEvent;
        span = std::min(span, kCueStep);
      }
    } else if (auto ev = EventPosition(); ev && *ev >= pos_ && *ev <= limit) {
      stop = *ev;
      at = kEvent;
    }
    const double needed = (stop - pos_) / (v * fps);  // seconds
    const double have = static_cast<double>(span.count()) / 1e6;
    if (needed <= have) {
      pos_ = stop;
      now_ += Micros{static_cast<std::int64_t>(std::llround(needed * 1e6))};
      if (at == kEvent) {
        if (mode_ == TransportMode::kCue) {
          Arrive();
        } else {
          RunEvent();
        }
      } else if (at == kLimit) {
        ReachEnd(v > 0);
      }
    } else {
      pos_ += v * fps * have;
      now_ += span;
    }
  }
  now_ = std::max(now_, now);
}

void Machine::SetMode(TransportMode mode) {
  // Out of record a recording ends where the tape is (an edit off has set its
  // end already); out of play speed, at the latest there.
  for (Laying& l : laying_) {
    if (mode != TransportMode::kRecord && !l.until) l.until = pos_;
    if (!Moving(mode)) l.until = std::min(*l.until, pos_);
  }
  SettleLaying();
  shown_before_ = DisplayedMode();
  if (Moving(mode) && !Moving(mode_)) {
    locked_at_ =
        now_ + Micros{static_cast<std::int64_t>(config_.servo_lock_frames * 1e6 / rate_.real_fps)};
  }
  mode_ = mode;
  mode_since_ = now_;
  cue_complete_ = false;
}

TransportMode Machine::DisplayedMode() const {
  const Micros delay{static_cast<std::int64_t>(config_.status_delay_frames * 1e6 / rate_.real_fps)};
  if (Moving(mode_) && now_ - mode_since_ < delay) return shown_before_;
  return mode_;
}

void Machine::CancelRun() {
  run_ = EditRun::kNone;
  phase_ = Phase::kNone;
}

void Machine::Stop() {
  CancelRun();
  edit_ = false;
  standby_ = true;
  if (mode_ != TransportMode::kStop) SetMode(TransportMode::kStop);
}

void Machine::Play() {
  CancelRun();
  edit_ = false;
  if (mode_ != TransportMode::kPlay) SetMode(TransportMode::kPlay);
}

void Machine::Record() {
  if (config_.record_inhibit) return;
  // Punching in from play needs a locked servo; from rest the deck starts
  // the tape in record and locks on the way.
  if (Moving(mode_) && !ServoLocked()) return;
  CancelRun();
  if (mode_ == TransportMode::kRecord) return;
  SetMode(TransportMode::kRecord);
  BeginLaying(AllTracks(), TakeKind::kRecord, edit_on_delay);
}

void Machine::Wind(bool forward) {
  CancelRun();
  edit_ = false;
  const auto m = forward ? TransportMode::kFastForward : TransportMode::kRewind;
  if (mode_ != m) SetMode(m);
}

void Machine::Scan(TransportMode kind, double speed) {
  CancelRun();
  edit_ = false;
  if (speed == 0.0) {
    if (mode_ != TransportMode::kStill) SetMode(TransportMode::kStill);
    return;
  }
  const double max = kind == TransportMode::kVar ? config_.var_max : config_.shuttle_max;
  scan_speed_ = std::clamp(speed, -max, max);
  if (mode_ != kind) SetMode(kind);
}

void Machine::Still() { Scan(TransportMode::kShuttle, 0.0); }

void Machine::Cue(std::uint32_t timecode) {
  CancelRun();
  StartCue(static_cast<std::int64_t>(timecode) - static_cast<std::int64_t>(config_.start_timecode));
}

void Machine::StartCue(std::int64_t target) {
  const auto end = static_cast<std::int64_t>(config_.tape_frames);
  cue_reachable_ = target >= 0 && target <= end;
  cue_target_ = static_cast<double>(std::clamp<std::int64_t>(target, 0, end));
  edit_ = false;
  SetMode(TransportMode::kCue);
  if (pos_ == cue_target_) Arrive();
}

void Machine::Arrive() {
  pos_ = cue_target_;
  if (!cue_reachable_) {
    CancelRun();
    SetMode(TransportMode::kStop);
    return;
  }
  if (run_ != EditRun::kNone && run_ != EditRun::kPreroll) {
    phase_ = Phase::kRolling;
    SetMode(TransportMode::kPlay);
    return;
  }
  CancelRun();
  SetMode(TransportMode::kStill);
  cue_complete_ = true;
}

void Machine::RunEvent() {
  switch (phase_) {
    case Phase::kRolling:
      phase_ = Phase::kEditing;
      // The deck's own edit switches on the in point and off on the out point.
      if (run_ == EditRun::kAutoEdit && !config_.record_inhibit) StartEdit(0);
      break;
    case Phase::kEditing:
      phase_ = Phase::kPostroll;
      EndEdit(0);
      break;
    default:
      CancelRun();
      SetMode(TransportMode::kStill);
      break;
  }
}

void Machine::ReachEnd(bool forward) {
  pos_ = forward ? static_cast<double>(config_.tape_frames) : 0.0;
  CancelRun();
  edit_ = false;
  SetMode(TransportMode::kStop);
}

void Machine::Step(int direction) {
  CancelRun();
  edit_ = false;
  const double p = std::floor(pos_ + 1e-6) + direction;
  pos_ = std::clamp(p, 0.0, static_cast<double>(config_.tape_frames));
  SetMode(TransportMode::kStill);
}

void Machine::StartRun(EditRun run) {
  std::optional<std::uint32_t> in = points[0], out = points[1];
  if (run == EditRun::kReview && last_in_) {
    in = last_in_;
    out = last_out_;
  }
  if (!in) return;
  CancelRun();
  if (run == EditRun::kAutoEdit) {
    last_in_ = in;
    last_out_ = out;
  }
  const auto start = static_cast<double>(config_.start_timecode);
  run_ = run;
  phase_ = Phase::kCueing;
  run_in_ = static_cast<double>(*in) - start;
  run_out_ = out ? static_cast<double>(*out) - start : -1.0;
  const double preroll = std::max(0.0, run_in_ - preroll_frames);
  StartCue(static_cast<std::int64_t>(preroll));
}

void Machine::EditOn() {
  if (config_.record_inhibit || !ServoLocked()) return;
  if (mode_ == TransportMode::kPlay) {
    StartEdit(edit_on_delay);
  } else if (mode_ == TransportMode::kRecord) {
    edit_ = true;
  }
}

void Machine::StartEdit(int delay_frames) {
  edit_ = true;
  SetMode(TransportMode::kRecord);
  const TakeKind kind = (edit_preset & 0x20) != 0 ? TakeKind::kAssemble : TakeKind::kInsert;
  BeginLaying(PresetTracks(), kind, delay_frames);
}

void Machine::EditOff() { EndEdit(edit_off_delay); }

void Machine::EndEdit(int delay_frames) {
  if (!edit_) return;
  edit_ = false;
  if (mode_ != TransportMode::kRecord) return;
  EndLaying(delay_frames);
  SetMode(TransportMode::kPlay);
}

// ---- the record map ----------------------------------------------------------

unsigned Machine::AllTracks() const {
  const unsigned audio = (1u << std::clamp(config_.audio_tracks, 1, 4)) - 1u;
  return 1u | audio << 1 | 1u << kTimecodeTrack;
}

// The edit preset byte: bit 4 video, bits 0 and 1 audio 1 and 2, bit 2
// timecode; an assemble (bit 5) lays every track.
unsigned Machine::PresetTracks() const {
  if ((edit_preset & 0x20) != 0) return AllTracks();
  const unsigned bits = ((edit_preset & 0x10) != 0 ? 1u : 0u) | (edit_preset & 0x03u) << 1 |
                        ((edit_preset & 0x04) != 0 ? 1u << kTimecodeTrack : 0u);
  return bits & AllTracks();
}

void Machine::BeginLaying(unsigned tracks, TakeKind kind, int delay_frames) {
  laying_.push_back(
      Laying{tracks, pos_ + delay_frames, std::nullopt, ++takes_, kind, tc_generator});
}

void Machine::EndLaying(int delay_frames) {
  for (Laying& l : laying_) {
    if (!l.until) l.until = pos_ + delay_frames;
  }
}

// Recordings whose end the tape has reached go into the map, oldest first.
void Machine::SettleLaying() {
  while (!laying_.empty() && laying_.front().until && *laying_.front().until <= pos_ + 1e-6) {
    const Laying l = laying_.front();
    laying_.erase(laying_.begin());
    const std::uint32_t frames = Lay(recorded_, l, *l.until);
    // The generator runs while it lays timecode.
    if ((l.tracks & 1u << kTimecodeTrack) != 0) {
      tc_generator = static_cast<std::uint32_t>((std::uint64_t{l.tc} + frames) % rate_.per_day);
    }
  }
}

std::uint32_t Machine::Lay(std::array<std::vector<RecordedSpan>, kTracks>& map, const Laying& l,
                           double end) const {
  const auto frame = [](double p) {
    return static_cast<std::uint32_t>(std::floor(std::max(p, 0.0) + 1e-6));
  };
  const std::uint32_t first = frame(l.from), last = frame(end);
  if (last <= first) return 0;
  for (std::size_t t = 0; t < kTracks; ++t) {
    if ((l.tracks & 1u << t) == 0) continue;
    std::vector<RecordedSpan> kept;
    for (const RecordedSpan& s : map[t]) {
      if (s.end <= first || s.first >= last) {
        kept.push_back(s);
        continue;
      }
      if (s.first < first) {
        RecordedSpan left = s;
        left.end = first;
        kept.push_back(left);
      }
      if (s.end > last) {
        RecordedSpan right = s;
        right.first = last;
        if (right.timecode) *right.timecode = (*s.timecode + (last - s.first)) % rate_.per_day;
        kept.push_back(right);
      }
    }
    RecordedSpan span{first, last, l.take, l.kind, std::nullopt};
    if (t == kTimecodeTrack) span.timecode = l.tc;
    kept.push_back(span);
    std::sort(kept.begin(), kept.end(),
              [](const RecordedSpan& a, const RecordedSpan& b) { return a.first < b.first; });
    map[t] = std::move(kept);
  }
  return last - first;
}

std::vector<RecordedTrack> Machine::Recorded() {
  SettleLaying();
  auto map = recorded_;
  for (const Laying& l : laying_) Lay(map, l, std::min(l.until.value_or(pos_), pos_));
  std::vector<RecordedTrack> out;
  out.push_back({"video", map[0]});
  const auto audio = static_cast<std::size_t>(std::clamp(config_.audio_tracks, 1, 4));
  for (std::size_t a = 1; a <= audio; ++a) out.push_back({"audio " + std::to_string(a), map[a]});
  out.push_back({"timecode", map[kTimecodeTrack]});
  return out;
}

void Machine::Eject() {
  if (mode_ == TransportMode::kNoTape || mode_ == TransportMode::kEject) return;
  CancelRun();
  edit_ = false;
  SetMode(TransportMode::kEject);
  eject_done_ = now_ + kEjectTime;
}

void Machine::Load(std::uint32_t position) {
  pos_ = std::min(position, config_.tape_frames);
  CancelRun();
  edit_ = false;
  SetMode(TransportMode::kStop);
  recorded_ = {};  // another cassette
  takes_ = 0;
}

void Machine::SetPosition(std::uint32_t position) {
  pos_ = std::min(position, config_.tape_frames);
  cue_complete_ = false;
}

std::uint32_t Machine::Position() const {
  return static_cast<std::uint32_t>(std::floor(pos_ + 1e-6));
}

std::uint32_t Machine::Timecode() const {
  return static_cast<std::uint32_t>((std::uint64_t{config_.start_timecode} + Position()) %
                                    rate_.per_day);
}

std::uint32_t Machine::Timer1() const {
  const std::int64_t day = rate_.per_day;
  const std::int64_t v = (static_cast<std::int64_t>(Position()) + timer1_offset_) % day;
  return static_cast<std::uint32_t>(v < 0 ? v + day : v);
}

void Machine::PresetTimer1(std::uint32_t count) {
  timer1_offset_ = static_cast<std::int64_t>(count) - static_cast<std::int64_t>(Position());
}

std::array<std::uint8_t, 16> Machine::StatusBytes() const {
  const TransportMode m = DisplayedMode();
  const bool tape = mode_ != TransportMode::kNoTape;
  const bool reverse = (Scanning(m) && scan_speed_ < 0) || m == TransportMode::kRewind ||
                       (m == TransportMode::kCue && cue_target_ < pos_);
  std::array<std::uint8_t, 16> s{};
  s[0] = Bit(!tape, 5) | Bit(hard_error_, 2) | Bit(local_, 0);
  s[1] = Bit(standby_ && tape && (m == TransportMode::kStop || m == TransportMode::kStill), 7) |
         Bit(m == TransportMode::kStop, 5) | Bit(m == TransportMode::kEject, 4) |
         Bit(m == TransportMode::kRewind, 3) | Bit(m == TransportMode::kFastForward, 2) |
         Bit(m == TransportMode::kRecord, 1) | Bit(Moving(m), 0);
  s[2] = Bit((Moving(m) && ServoLocked()) || m == TransportMode::kStill, 7) |
         Bit(m == TransportMode::kShuttle, 5) | Bit(m == TransportMode::kJog, 4) |
         Bit(m == TransportMode::kVar, 3) | Bit(reverse, 2) | Bit(m == TransportMode::kStill, 1) |
         Bit(cue_complete_, 0);
  s[3] = Bit(auto_mode, 7) | Bit(points[3].has_value(), 3) | Bit(points[2].has_value(), 2) |
         Bit(points[1].has_value(), 1) | Bit(points[0].has_value(), 0);
  s[4] = Bit(select_ee, 7) | Bit(full_ee, 6) | Bit(edit_, 4) | Bit(run_ == EditRun::kReview, 3) |
         Bit(run_ == EditRun::kAutoEdit, 2) | Bit(run_ == EditRun::kPreview, 1) |
         Bit(m == TransportMode::kCue || phase_ == Phase::kCueing, 0);
  s[5] = edit_preset;
  s[7] = Bit(BetweenInAndOut(), 0);
  const std::uint32_t pos = Position();
  s[8] = Bit(tape && pos + config_.near_end_frames >= config_.tape_frames, 5) |
         Bit(tape && pos >= config_.tape_frames, 4) |
         Bit(config_.record_inhibit && config_.can_record, 0);
  return s;
}

std::uint16_t Machine::VdrStatus() const {
  const bool tape = mode_ != TransportMode::kNoTape && mode_ != TransportMode::kEject;
  const bool busy = mode_ == TransportMode::kCue || !tape;
  const bool parked = mode_ == TransportMode::kStop || mode_ == TransportMode::kStill;
  unsigned v = 0;
  if (!busy) v |= 0x001;
  if (dual_play) v |= 0x080;
  if (tape && parked) v |= 0x100;
  if (tape && (mode_ == TransportMode::kPlay || mode_ == TransportMode::kStill)) v |= 0x200;
  return static_cast<std::uint16_t>(v);
}

}  // namespace vtr::sim
