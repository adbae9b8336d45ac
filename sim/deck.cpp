#include "sim/deck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

#include "sim/machine.h"
#include "sim/names.h"
#include "sim/timecode.h"

namespace vtr::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 11 bits at 38400 baud.
constexpr double kByteMicros = 11.0 * 1e6 / 38400.0;
// A block whose bytes stop coming for this long is dropped.
constexpr Micros kByteTimeout{10000};

// NAK error bits.
constexpr std::uint8_t kNakUndefined = 0x01;
constexpr std::uint8_t kNakChecksum = 0x04;
constexpr std::uint8_t kNakOverrun = 0x20;
constexpr std::uint8_t kNakTimeout = 0x80;

std::uint8_t Sum(std::span<const std::uint8_t> b) {
  unsigned s = 0;
  for (std::uint8_t v : b) s += v;
  return static_cast<std::uint8_t>(s & 0xFFu);
}

Bytes WithChecksum(Bytes b) {
  b.push_back(Sum(b));
  return b;
}

Bytes Ack() { return {0x10, 0x01, 0x11}; }
Bytes Nak(std::uint8_t bits) { return WithChecksum({0x11, 0x12, bits}); }

// ZDKR settings: set command's CMD-2 and the value a machine starts with.
struct ZdkrSetting {
  std::uint8_t cmd2;
  std::uint8_t initial;
  bool readable;
};
// clang-format off
constexpr ZdkrSetting kZdkrSettings[] = {
    {0x08, 0x2D, true}, {0x10, 0x01, false}, {0x18, 0x01, true}, {0x1A, 0x32, true},
    {0x1C, 0x01, true}, {0x1E, 0x01, true}, {0x38, 0x08, true}, {0x3A, 0x07, true},
    {0x50, 0x00, true}, {0x52, 0x00, true}, {0x54, 0x00, true}, {0x56, 0x00, true},
    {0x58, 0x00, true}, {0x5A, 0x00, true}, {0x5C, 0x00, true}, {0x5E, 0x00, true},
    {0x60, 0x01, true}, {0x66, 0x80, true}, {0x68, 0x1F, true}, {0x6A, 0x00, true},
    {0x6C, 0x00, true}, {0x70, 0x00, true}, {0x72, 0x1F, true}, {0x74, 0x1F, true},
    {0x76, 0x01, true}, {0x78, 0x07, true}, {0x80, 0x00, true}, {0x82, 0x2E, true},
    {0x84, 0x7F, true}, {0x8A, 0x00, true}, {0x8C, 0x01, true}, {0x8E, 0x01, true},
};
// clang-format on
constexpr std::uint8_t kZdkrAudioLevels[] = {0x92, 0x9C, 0x9E};
constexpr std::uint8_t kZdkrAudioInitial = 0x7F;
constexpr std::uint8_t kZdkrAudioChannels = 4;
// The edit-on and edit-off durations.
constexpr std::uint8_t kZdkrEditOn = 0x38;
constexpr std::uint8_t kZdkrEditOff = 0x3A;

const ZdkrSetting* FindZdkr(std::uint8_t cmd2) {
  for (const ZdkrSetting& s : kZdkrSettings) {
    if (s.cmd2 == cmd2) return &s;
  }
  return nullptr;
}
bool IsAudioLevel(std::uint8_t cmd2) {
  return std::find(std::begin(kZdkrAudioLevels), std::end(kZdkrAudioLevels), cmd2) !=
         std::end(kZdkrAudioLevels);
}

}  // namespace

DeckConfig::DeckConfig() { Apply(DefaultPersonality()); }

DeckConfig DeckConfig::For(const Personality& personality) {
  DeckConfig c;
  c.Apply(personality);
  return c;
}

DeckConfig DeckConfig::For(std::string_view name) {
  const Personality* p = FindPersonality(name);
  return For(p != nullptr ? *p : GenericPersonality());
}

void DeckConfig::Apply(const Personality& p) {
  personality = &p;
  can_record = p.records;
  can_edit = p.edits;
  has_vitc = p.vitc;
  edit_on_delay = p.edit_on;
  edit_off_delay = p.edit_off;
  wind_speed = p.wind;
  shuttle_max = p.shuttle;
  var_max = p.var;
}

double SpeedForByte(std::uint8_t n, std::uint8_t fine) {
  if (n == 0 && fine == 0) return 0.0;
  const double steps = n + fine / 256.0;
  return std::pow(10.0, steps / 32.0 - 2.0);
}

std::string FormatTraceEntry(const TraceEntry& e) {
  std::string hex;
  for (std::uint8_t b : e.bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X ", b);
    hex += buf;
  }
  char head[64];
  std::snprintf(head, sizeof head, "%12.3f ms  %s  ", static_cast<double>(e.time.count()) / 1000.0,
                e.direction == Direction::kToDeck ? "-> deck" : "<- deck");
  return head + hex + " " + e.name;
}

namespace {
std::string TimecodeText(std::uint32_t count, const FrameRate& r) {
  const auto b = CountToBcd(count, r, false);
  char text[16];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X%c%02X", b[3], b[2], b[1], r.drop ? ';' : ':',
                b[0]);
  return text;
}
}  // namespace

std::string FormatRecordMap(const std::vector<RecordedTrack>& tracks, VideoStandard standard) {
  static constexpr const char* kKinds[] = {"record", "assemble", "insert"};
  const FrameRate rate = RateOf(standard);
  std::string out;
  for (const RecordedTrack& t : tracks) {
    for (const RecordedSpan& s : t.spans) {
      char line[96];
      std::snprintf(line, sizeof line, "%-9s %7u-%-7u take %d %s", t.name.c_str(), s.first,
                    s.end - 1, s.take, kKinds[static_cast<int>(s.kind)]);
      out += line;
      if (s.timecode) {
        out += "  " + TimecodeText(*s.timecode, rate) + "-" +
               TimecodeText((*s.timecode + (s.end - s.first) - 1) % rate.per_day, rate);
      }
      out += '\n';
    }
  }
  return out.empty() ? "nothing recorded\n" : out;
}

std::string FormatLanding(const std::vector<RecordedTrack>& tracks, std::uint32_t first,
                          std::uint32_t end) {
  const RecordedSpan* last = nullptr;
  for (const RecordedTrack& t : tracks) {
    for (const RecordedSpan& s : t.spans) {
      if (last == nullptr || s.take > last->take) last = &s;
    }
  }
  if (last == nullptr) return {};
  const auto error = [](std::uint32_t got, std::uint32_t want) {
    const std::int64_t d = std::int64_t{got} - std::int64_t{want};
    return (d > 0 ? "+" : "") + std::to_string(d);
  };
  return "take " + std::to_string(last->take) + " landed at " + std::to_string(last->first) + "-" +
         std::to_string(last->end - 1) + ": in " + error(last->first, first) + ", out " +
         error(last->end, end) + " frames";
}

struct Deck::Impl {
  explicit Impl(const DeckConfig& c) : config(c), machine(c) {
    const Personality& p = *c.personality;
    const bool pal = c.standard == VideoStandard::kPal && c.pal_type_variant;
    if (c.device_type) {
      code = *c.device_type;
      // The 625/50 variant has 1 in the second nibble of the first byte.
      if (pal) code = static_cast<std::uint16_t>((code & 0xF0FFu) | 0x0100u);
    } else {
      code = pal ? p.type_625 : p.type_525;
    }
    family = c.family == Family::kAuto ? p.family : c.family;
  }

  struct OutByte {
    std::uint8_t byte;
    Micros at;
  };

  const DeckConfig& config;
  std::mutex mu;
  Machine machine;
  std::uint16_t code;
  Family family;

  Bytes block;  // command being received
  bool block_early = false;
  Micros last_in{0};
  double wire_in = 0;  // when the line into the deck is free, microseconds
  // When the deck has sent its own reply to the last block (whatever the line
  // does to it): a block that starts before then is early.
  double free_at = 0;

  std::deque<OutByte> out;
  double wire_out = 0;  // when the line out of the deck is free, microseconds
  std::deque<Fault> faults;
  Bytes last_reply;
  bool connected = true;

  std::deque<TraceEntry> trace;
  std::function<void(const TraceEntry&)> sink;
  std::map<unsigned, std::uint8_t> zdkr;

  static double Us(Micros t) { return static_cast<double>(t.count()); }
  static Micros FromUs(double us) { return Micros{std::llround(us)}; }

  void Note(Direction d, Micros t, Bytes bytes, std::string name) {
    TraceEntry e{d, t, std::move(bytes), std::move(name)};
    if (sink) sink(e);
    if (config.trace_limit == 0) return;
    trace.push_back(std::move(e));
    while (trace.size() > config.trace_limit) trace.pop_front();
  }

  bool TimesOut() const { return config.strict.byte_timeout && !block.empty(); }

  void Settle(Micros now) {
    machine.Update(now);
    if (TimesOut() && now - last_in > kByteTimeout) TimeOut();
  }

  // The partial block is void; the deck says so with NAK (time out) as soon
  // as it notices.
  void TimeOut() {
    Note(Direction::kToDeck, last_in, block, "FRAGMENT");
    block.clear();
    Reply(Nak(kNakTimeout), last_in + kByteTimeout - config.latency);
  }

  void Take(std::uint8_t byte, Micros now) {
    double at = Us(now);
    if (config.line_pacing) at = std::max(at, wire_in) + kByteMicros;
    wire_in = at;
    const Micros t = FromUs(at);
    if (TimesOut() && t - last_in > kByteTimeout) TimeOut();
    if (block.empty()) block_early = config.strict.early_blocks && at < free_at;
    block.push_back(byte);
    last_in = t;
    if (block.size() == 3u + (block[0] & 0x0Fu)) {
      Bytes b;
      b.swap(block);
      Handle(b, t);
    }
  }

  void Handle(const Bytes& b, Micros t) {
    machine.Update(t);
    if (block_early) {
      // Still busy with the previous block: this one overran the deck's
      // command buffer and is not carried out.
      Note(Direction::kToDeck, t, b, CommandName(b) + " (early)");
      Reply(Nak(kNakOverrun), t);
      return;
    }
    const bool good = Sum(std::span(b).first(b.size() - 1)) == b.back();
    Note(Direction::kToDeck, t, b, CommandName(b) + (good ? "" : " (bad checksum)"));
    Reply(good ? Dispatch(b) : Nak(kNakChecksum), t);
  }

  // Sends a reply through the injected faults, a latency after `ready`.
  void Reply(Bytes bytes, Micros ready) {
    const Bytes real = bytes;
    // The deck's own timing: the line's faults do not keep it busy.
    const double own_start = std::max(Us(ready + config.latency), free_at);
    free_at = own_start + (config.line_pacing ? kByteMicros * static_cast<double>(real.size()) : 0);
    std::string note;
    Bytes noise;
    std::size_t late_from = bytes.size();
    Micros late{0};
    if (!faults.empty()) {
      Fault& f = faults.front();
      switch (f.kind) {
        case FaultKind::kSilence:
          bytes.clear();
          break;
        case FaultKind::kNak:
          bytes = Nak(f.nak_bits);
          note = " [injected]";
          break;
        case FaultKind::kCorruptChecksum:
          bytes.back() = static_cast<std::uint8_t>(bytes.back() + 1);
          note = " [bad checksum]";
          break;
        case FaultKind::kDropByte:
          if (f.byte_index < bytes.size()) {
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(f.byte_index));
            note = " [byte dropped]";
          }
          break;
        case FaultKind::kDelayByte:
          late_from = f.byte_index;
          late = f.delay;
          note = " [byte delayed]";
          break;
        case FaultKind::kNoise:
          noise = f.noise;
          break;
        case FaultKind::kWrongReply:
          bytes = last_reply.empty() ? DeviceType() : last_reply;
          note = " [wrong reply]";
          break;
      }
      if (f.times != Fault::kAlways && --f.times <= 0) faults.pop_front();
    }
    last_reply = real;
    double start = std::max(Us(ready + config.latency), wire_out);
    if (!noise.empty()) start = Send(noise, start, noise.size(), Micros{0}, "NOISE");
    if (!bytes.empty()) {
      const std::string name = ReplyName(bytes) + note;
      Send(bytes, start, late_from, late, name);
    }
  }

  double Send(const Bytes& bytes, double start, std::size_t late_from, Micros late,
              const std::string& name) {
    double at = start;
    Micros first{0};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (config.line_pacing) at += kByteMicros;
      if (i == late_from) at += Us(late);
      if (i == 0) first = FromUs(at);
      out.push_back(OutByte{bytes[i], FromUs(at)});
    }
    wire_out = at;
    Note(Direction::kFromDeck, first, bytes, name);
    return at;
  }

  // ---- answers -------------------------------------------------------------

  Bytes DeviceType() const {
    return WithChecksum(
        {0x12, 0x11, static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code & 0xFF)});
  }

  Bytes Time(std::uint8_t c1, std::uint8_t kind, std::uint32_t count, bool flag_drop,
             const std::array<std::uint8_t, 4>* ub = nullptr) const {
    FrameRate r = machine.Rate();
    if (!flag_drop) r.drop = false;
    const auto t = CountToBcd(count, r, flag_drop);
    Bytes b{c1, kind, t[0], t[1], t[2], t[3]};
    if (ub != nullptr) b.insert(b.end(), ub->begin(), ub->end());
    return WithChecksum(b);
  }

  // No reader for what was asked (a machine without VITC asked for VITC).
  static Bytes Missing() { return WithChecksum({0x70, 0x0D}); }

  // 61 0C: bits 0-3 ask for a time (LTC, VITC, timer-1, timer-2), bits 4-5 for
  // user bits (LTC, VITC). Both: the eight-byte form, time first.
  Bytes TimeSense(std::uint8_t req) const {
    const unsigned time = req & 0x0Fu, ub = req & 0x30u;
    if (req == 0 || (req & 0xC0u) != 0) return Nak(kNakUndefined);
    const bool slow = machine.Slow();
    // Below a quarter of play speed LTC cannot be read and VITC can.
    const auto vitc_first = [&](bool ltc, bool vitc) {
      return vitc && config.has_vitc && (!ltc || slow);
    };
    std::optional<std::uint8_t> kind;
    std::uint32_t count = 0;
    bool drop = true;
    if ((time & 0x03u) != 0 && config.has_timecode) {
      const bool vitc = vitc_first(time & 1u, time & 2u);
      if (!vitc && (time & 1u) == 0) return Missing();
      kind = vitc ? 0x06 : slow ? 0x14 : 0x04;  // 14: LTC corrected by the control track
      count = machine.Timecode();
    } else if ((time & 0x07u) != 0) {
      kind = 0x00;  // timer-1, also for LTC on a machine without timecode
      count = machine.Timer1();
      drop = false;
    } else if ((time & 0x08u) != 0) {
      kind = 0x01;  // timer-2: the control track from the tape start, never preset
      count = machine.Position() % machine.Rate().per_day;
      drop = false;
    }
    std::uint8_t ub_kind = 0;
    if (ub != 0) {
      const bool vitc = vitc_first(ub & 0x10u, ub & 0x20u);
      if (!vitc && (ub & 0x10u) == 0) return Missing();
      ub_kind = vitc ? 0x07 : 0x05;
    }
    const auto& bits = machine.user_bits;
    if (!kind) {
      return WithChecksum({0x74, ub_kind, bits[0], bits[1], bits[2], bits[3]});
    }
    return Time(ub != 0 ? 0x78 : 0x74, *kind, count, drop, ub != 0 ? &bits : nullptr);
  }

  // 61 0A: 01 the generator's time, 10 its user bits, 11 both.
  Bytes GeneratorSense(std::uint8_t req) const {
    const auto& bits = machine.user_bits;
    switch (req) {
      case 0x01:
        return Time(0x74, 0x08, machine.tc_generator, true);
      case 0x10:
        return WithChecksum({0x74, 0x09, bits[0], bits[1], bits[2], bits[3]});
      case 0x11:
        return Time(0x78, 0x08, machine.tc_generator, true, &bits);
      default:
        return Nak(kNakUndefined);
    }
  }

  Bytes Status(std::uint8_t xy) const {
    const unsigned first = xy >> 4, count = xy & 0x0Fu;
    if (count == 0 || first + count > 16) return Nak(kNakUndefined);
    const auto s = machine.StatusBytes();
    Bytes r{static_cast<std::uint8_t>(0x70 | count), 0x20};
    r.insert(r.end(), s.begin() + first, s.begin() + first + count);
    return WithChecksum(r);
  }

  // 60 2E: the speed byte of the speed law for the tape's speed now.
  Bytes CommandSpeed() const {
    const double v = std::abs(machine.Speed());
    long n = 0;
    if (v > 0) n = std::lround(32.0 * (std::log10(v) + 2.0));
    return WithChecksum({0x71, 0x2E, static_cast<std::uint8_t>(std::clamp(n, 0L, 255L))});
  }

  // 60 2B: the time left to the tape's end, then two bytes the deck sends as 0.
  Bytes RemainingTime() const {
    const std::uint32_t left =
        config.tape_frames - std::min(config.tape_frames, machine.Position());
    FrameRate r = machine.Rate();
    r.drop = false;
    const auto t = CountToBcd(left % r.per_day, r, false);
    return WithChecksum({0x76, 0x2B, t[0], t[1], t[2], t[3], 0x00, 0x00});
  }

  std::uint8_t ZdkrGet(std::uint8_t set_cmd2, std::uint8_t channel) const {
    if (set_cmd2 == kZdkrEditOn) return static_cast<std::uint8_t>(machine.edit_on_delay);
    if (set_cmd2 == kZdkrEditOff) return static_cast<std::uint8_t>(machine.edit_off_delay);
    const auto it = zdkr.find(set_cmd2 * 256u + channel);
    if (it != zdkr.end()) return it->second;
    if (IsAudioLevel(set_cmd2)) return kZdkrAudioInitial;
    const ZdkrSetting* s = FindZdkr(set_cmd2);
    return s ? s->initial : 0;
  }

  Bytes ZdkrValue(std::uint8_t cmd2, std::uint8_t v) const { return WithChecksum({0x81, cmd2, v}); }

  Bytes Zdkr(std::uint8_t c1, std::uint8_t c2, std::span<const std::uint8_t> d) {
    if (family != Family::kZdkr) return Nak(kNakUndefined);
    const ZdkrSetting* s = FindZdkr(c2);
    if (c1 == 0xC1 && s) {
      zdkr[c2 * 256u] = d[0];
      // The edit durations are the machine's own edit delays.
      if (c2 == kZdkrEditOn) machine.edit_on_delay = d[0];
      if (c2 == kZdkrEditOff) machine.edit_off_delay = d[0];
      return Ack();
    }
    if (c1 == 0xC2 && IsAudioLevel(c2)) {
      zdkr[c2 * 256u + d[0]] = d[1];
      return Ack();
    }
    if (c1 == 0xC1 && IsAudioLevel(static_cast<std::uint8_t>(c2 - 1))) {
      return ZdkrValue(c2, ZdkrGet(static_cast<std::uint8_t>(c2 - 1), d[0]));
    }
    if (c1 == 0xC0) {
      if (c2 == 0xEF) {
        machine.Stop();
        return Ack();
      }
      if (c2 == 0x90 || c2 == 0x91) return ZdkrValue(c2, kZdkrAudioChannels);
      const ZdkrSetting* g = FindZdkr(static_cast<std::uint8_t>(c2 - 1));
      if ((c2 & 1) && g && g->readable) return ZdkrValue(c2, ZdkrGet(g->cmd2, 0));
    }
    return Nak(kNakUndefined);
  }

  Bytes Vendor(std::uint8_t c1, std::uint8_t c2, std::span<const std::uint8_t> d) {
    const unsigned key = c1 * 256u + c2;
    if (key == 0xE0FF) return family == Family::kZdkr ? Ack() : Nak(kNakUndefined);
    if (family != Family::kVdr) return Nak(kNakUndefined);
    switch (key) {
      case 0xE111: {
        (void)d;
        const std::uint16_t v = machine.VdrStatus();
        return WithChecksum(
            {0xF2, 0x11, static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)});
      }
      case 0xE015:
        if (machine.Accepts()) machine.Play();
        return Ack();
      case 0xE02A:
      case 0xE02B:
        machine.dual_play = key == 0xE02A;
        return Ack();
      default:
        return Nak(kNakUndefined);
    }
  }

  // ---- commands --------------------------------------------------------------

  // Under local control the panel has the deck: the command is acknowledged
  // and not carried out.
  bool Remote() const { return !(machine.Local() && config.strict.local); }

  template <typename F>
  Bytes Act(F&& act) {
    if (Remote()) act();
    return Ack();
  }
  template <typename F>
  Bytes Move(F&& act) {
    if (Remote() && machine.Accepts()) act();
    return Ack();
  }

  Bytes System(std::uint8_t c2, std::size_t n) {
    if (n != 0) return Nak(kNakUndefined);
    switch (c2) {
      case 0x0C:  // local disable: the panel is locked out; the switch still rules
      case 0x1D:  // local enable
        return Ack();
      case 0x11:
        return DeviceType();
      default:
        return Nak(kNakUndefined);
    }
  }

  Bytes Transport(std::uint8_t c2, std::span<const std::uint8_t> d) {
    Machine& m = machine;
    const std::size_t n = d.size();
    const bool records = config.can_record, edits = config.can_edit && config.can_record;
    switch (c2) {
      // Jog, var and shuttle take one or two speed bytes.
      case 0x11:
      case 0x12:
      case 0x13:
      case 0x21:
      case 0x22:
      case 0x23: {
        if (n != 1 && n != 2) break;
        const double v = SpeedForByte(d[0], n > 1 ? d[1] : 0);
        const TransportMode kind = (c2 & 0x0F) == 1   ? TransportMode::kJog
                                   : (c2 & 0x0F) == 2 ? TransportMode::kVar
                                                      : TransportMode::kShuttle;
        return Move([&] { m.Scan(kind, (c2 & 0x20) ? -v : v); });
      }
      case 0x31:  // cue up with data; the five-byte form carries a fifth byte
        if ((n != 4 && n != 5) || !config.can_cue) break;
        return Move(
            [&] { m.Cue(BcdToCount(std::span<const std::uint8_t, 4>(d.data(), 4), m.Rate())); });
      case 0x5C:  // DMC set forward and reverse: the DMC memory is not modelled
      case 0x5D:
        if (n != 1 && n != 2) break;
        return Act([] {});
      default:
        break;
    }
    if (n != 0) return Nak(kNakUndefined);
    switch (c2) {
      case 0x00:
        return Move([&] { m.Stop(); });
      case 0x01:
        return Move([&] { m.Play(); });
      case 0x02:
        if (!records) break;
        return Move([&] { m.Record(); });
      case 0x04:  // standby off, in stop only
        return Act([&] {
          if (m.Mode() == TransportMode::kStop) m.Standby(false);
        });
      case 0x05:
        return Act([&] { m.Standby(true); });
      case 0x0F:
        return Move([&] { m.Eject(); });
      case 0x10:
      case 0x20:
        return Move([&] { m.Wind(c2 == 0x10); });
      case 0x14:
      case 0x24:
        if (!config.can_step) break;
        return Move([&] { m.Step(c2 == 0x14 ? 1 : -1); });
      case 0x30:
        return Move([&] { m.StartRun(EditRun::kPreroll); });
      case 0x34:  // sync play: play, locked to the reference
        return Move([&] { m.Play(); });
      case 0x40:
      case 0x41:
      case 0x42:
        if (!edits) break;
        return Move([&] {
          m.StartRun(c2 == 0x40   ? EditRun::kPreview
                     : c2 == 0x41 ? EditRun::kReview
                                  : EditRun::kAutoEdit);
        });
      case 0x43:  // outpoint preview: acknowledged, not modelled
        if (!edits) break;
        return Act([] {});
      case 0x60:
        return Act([&] { m.full_ee = m.select_ee = false; });
      case 0x61:
        return Act([&] { m.full_ee = true; });
      case 0x63:
        return Act([&] { m.select_ee = true; });
      case 0x64:
        if (!records) break;
        return Move([&] { m.EditOff(); });
      case 0x65:
        if (!records) break;
        return Move([&] { m.EditOn(); });
      default:
        break;
    }
    return Nak(kNakUndefined);
  }

  // Edit point commands without data: entry, plus/minus, reset, recall.
  void Points(std::uint8_t c2) {
    auto& p = machine.points;
    if (c2 <= 0x13) {
      p[c2 - 0x10u] = machine.Timecode();
    } else if (c2 >= 0x18 && c2 <= 0x1F) {
      auto& pt = p[(c2 - 0x18u) / 2];
      const bool plus = (c2 & 1) == 0;
      if (pt) pt = plus ? *pt + 1 : (*pt > 0 ? *pt - 1 : 0);
    } else if (c2 >= 0x20 && c2 <= 0x23) {
      if (p[c2 - 0x20u]) machine.recall[c2 - 0x20u] = p[c2 - 0x20u];
      p[c2 - 0x20u].reset();
    } else {
      if (machine.recall[c2 - 0x24u]) p[c2 - 0x24u] = machine.recall[c2 - 0x24u];
    }
  }

  Bytes Preset(std::uint8_t c1, std::uint8_t c2, std::span<const std::uint8_t> d) {
    Machine& m = machine;
    const std::size_t n = d.size();
    const auto tc = [&] {
      return BcdToCount(std::span<const std::uint8_t, 4>(d.data(), 4), m.Rate());
    };
    const bool records = config.can_record;
    if (n == 4) {
      switch (c2) {
        case 0x00:
          return Act([&] { m.PresetTimer1(tc()); });
        case 0x04:  // the generator belongs to a recorder
          if (!records) break;
          return Act([&] { m.tc_generator = tc(); });
        case 0x05:
          if (!records) break;
          return Act([&] { std::copy(d.begin(), d.end(), m.user_bits.begin()); });
        case 0x14:
        case 0x15:
        case 0x16:
        case 0x17:
          return Act([&] { m.points[c2 - 0x14u] = tc(); });
        case 0x31:
          return Act([&] { m.preroll_frames = tc(); });
        default:
          break;
      }
      return Nak(kNakUndefined);
    }
    if (c1 == 0x41 || (c1 == 0x42 && c2 == 0x30)) {
      switch (c2) {
        case 0x30:  // edit preset; the second byte selects digital audio channels
          if (!records) break;
          return Act([&] { m.edit_preset = d[0]; });
        case 0x36:
          return Act([&] {
            if (config.has_timecode) m.timer_mode = d[0] & 1u;
          });
        case 0x32:  // tape/audio select, servo reference, head, colour frame,
        case 0x33:  // input check, playback and record frame, edit field,
        case 0x34:  // freeze mode: acknowledged, not modelled
        case 0x35:
        case 0x37:
        case 0x38:
        case 0x39:
        case 0x3A:
        case 0x3B:
          return Act([] {});
        default:
          break;
      }
      return Nak(kNakUndefined);
    }
    if (n != 0) return Nak(kNakUndefined);
    if (c2 == 0x08) return Act([&] { m.PresetTimer1(0); });
    if (c2 >= 0x10 && c2 <= 0x27 && (c2 < 0x14 || c2 > 0x17)) {
      return Act([&] {
        if (m.Accepts() || c2 >= 0x18) Points(c2);  // an entry needs a tape to read
      });
    }
    switch (c2) {
      case 0x2D:  // lost lock reset
        return Act([] {});
      case 0x40:
      case 0x41:
        return Act([&] { m.auto_mode = c2 == 0x41; });
      case 0x42:  // spot erase off/on, audio split off/on: recorders only
      case 0x43:
      case 0x44:
      case 0x45:
        if (!records) break;
        return Act([] {});
      default:
        break;
    }
    return Nak(kNakUndefined);
  }

  Bytes Sense(std::uint8_t c1, std::uint8_t c2, std::span<const std::uint8_t> d) {
    Machine& m = machine;
    const std::size_t n = d.size();
    if (c1 == 0x61) {
      switch (c2) {
        case 0x0A:
          if (!config.can_record) break;  // no generator
          return GeneratorSense(d[0]);
        case 0x0C:
          return TimeSense(d[0]);
        case 0x20:
          return Status(d[0]);
        case 0x30:  // edit preset: one byte, or two with the digital audio channels
          if (!config.can_record || (d[0] != 1 && d[0] != 2)) break;
          return d[0] == 1 ? WithChecksum({0x71, 0x30, m.edit_preset})
                           : WithChecksum({0x72, 0x30, m.edit_preset, 0x00});
        default:
          break;
      }
      return Nak(kNakUndefined);
    }
    if (c1 != 0x60 || n != 0) return Nak(kNakUndefined);
    switch (c2) {
      case 0x10:
      case 0x11:
      case 0x12:
      case 0x13:
        return Time(0x74, c2, m.points[c2 - 0x10u].value_or(0), true);
      case 0x2B:
        return RemainingTime();
      case 0x2E:
        return CommandSpeed();
      case 0x31:
        return Time(0x74, 0x31, m.preroll_frames, false);
      case 0x36:
        return WithChecksum({0x71, 0x36, config.has_timecode ? m.timer_mode : std::uint8_t{1}});
      case 0x3E:  // record inhibit: bit 0 of the first byte
        if (!config.can_record) break;
        return WithChecksum({0x72, 0x3E, static_cast<std::uint8_t>(config.record_inhibit), 0x00});
      default:
        break;
    }
    return Nak(kNakUndefined);
  }

  Bytes Dispatch(const Bytes& b) {
    const std::uint8_t c1 = b[0], c2 = b[1];
    const std::span<const std::uint8_t> d(b.data() + 2, b.size() - 3);
    switch (c1 >> 4u) {
      case 0x0:
        return System(c2, d.size());
      case 0x2:
        return Transport(c2, d);
      case 0x4:
        return Preset(c1, c2, d);
      case 0x6:
        return Sense(c1, c2, d);
      case 0xC:
        return Zdkr(c1, c2, d);
      case 0xE:
        return Vendor(c1, c2, d);
      default:
        return Nak(kNakUndefined);
    }
  }
};

Deck::Deck(DeckConfig config) : config_(std::move(config)), impl_(std::make_unique<Impl>(config_)) {
  impl_->machine.Update(platform::Now());
}

Deck::~Deck() = default;

void Deck::Receive(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->connected) return;
  const Micros now = platform::Now();
  impl_->Settle(now);
  for (std::uint8_t b : bytes) impl_->Take(b, now);
}

std::size_t Deck::Transmit(std::span<std::uint8_t> out) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->connected) return 0;
  const Micros now = platform::Now();
  impl_->Settle(now);
  std::size_t n = 0;
  while (n < out.size() && !impl_->out.empty() && impl_->out.front().at <= now) {
    out[n++] = impl_->out.front().byte;
    impl_->out.pop_front();
  }
  return n;
}

std::optional<Micros> Deck::NextArrival() const {
  std::lock_guard lock(impl_->mu);
  if (!impl_->connected) return std::nullopt;
  std::optional<Micros> next;
  if (!impl_->out.empty()) next = impl_->out.front().at;
  if (impl_->TimesOut()) {
    const Micros nak = impl_->last_in + kByteTimeout;
    next = next ? std::min(*next, nak) : nak;
  }
  return next;
}

void Deck::DiscardArrived() {
  std::lock_guard lock(impl_->mu);
  const Micros now = platform::Now();
  impl_->Settle(now);
  while (!impl_->out.empty() && impl_->out.front().at <= now) impl_->out.pop_front();
}

bool Deck::Connected() const {
  std::lock_guard lock(impl_->mu);
  return impl_->connected;
}

void Deck::InjectFault(Fault fault) {
  std::lock_guard lock(impl_->mu);
  impl_->faults.push_back(std::move(fault));
}

void Deck::ClearFaults() {
  std::lock_guard lock(impl_->mu);
  impl_->faults.clear();
}

void Deck::SetConnected(bool connected) {
  std::lock_guard lock(impl_->mu);
  impl_->connected = connected;
  if (!connected) {
    impl_->out.clear();
    impl_->block.clear();
  }
}

namespace {
template <typename F>
void WithMachine(std::mutex& mu, Machine& m, F&& f) {
  std::lock_guard lock(mu);
  m.Update(platform::Now());
  f(m);
}
}  // namespace

void Deck::PanelStop() {
  WithMachine(impl_->mu, impl_->machine, [](Machine& m) { m.Stop(); });
}
void Deck::PanelEject() {
  WithMachine(impl_->mu, impl_->machine, [](Machine& m) { m.Eject(); });
}
void Deck::LoadTape(std::uint32_t position) {
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) { m.Load(position); });
}
void Deck::SetPosition(std::uint32_t frames) {
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) { m.SetPosition(frames); });
}
void Deck::SetLocal(bool local) {
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) { m.SetLocal(local); });
}
void Deck::SetHardError(bool error) {
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) { m.SetHardError(error); });
}

DeckState Deck::State() const {
  DeckState s{};
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) {
    s = DeckState{m.Mode(),        m.Position(), m.Speed(), m.Local(),
                  m.CueComplete(), m.Editing(),  m.Timer1()};
  });
  return s;
}

std::vector<std::uint8_t> Deck::StatusBytes() const {
  std::vector<std::uint8_t> v;
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) {
    const auto s = m.StatusBytes();
    v.assign(s.begin(), s.end());
  });
  return v;
}

std::uint16_t Deck::ReportedDeviceType() const {
  std::lock_guard lock(impl_->mu);
  return impl_->code;
}

std::uint8_t Deck::ZdkrValue(std::uint8_t set_cmd2, std::uint8_t channel) const {
  std::lock_guard lock(impl_->mu);
  return impl_->ZdkrGet(set_cmd2, channel);
}

std::vector<RecordedTrack> Deck::Recorded() const {
  std::vector<RecordedTrack> tracks;
  WithMachine(impl_->mu, impl_->machine, [&](Machine& m) { tracks = m.Recorded(); });
  return tracks;
}

std::vector<TraceEntry> Deck::Trace() const {
  std::lock_guard lock(impl_->mu);
  return {impl_->trace.begin(), impl_->trace.end()};
}

std::string Deck::TraceText() const {
  std::string text;
  for (const TraceEntry& e : Trace()) text += FormatTraceEntry(e) + "\n";
  return text;
}

void Deck::ClearTrace() {
  std::lock_guard lock(impl_->mu);
  impl_->trace.clear();
}

void Deck::SetTraceSink(std::function<void(const TraceEntry&)> sink) {
  std::lock_guard lock(impl_->mu);
  impl_->sink = std::move(sink);
}

}  // namespace vtr::sim
