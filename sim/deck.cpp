#include "sim/deck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

#include "config/ballistics.h"
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

constexpr std::uint8_t kNakUndefined = 0x01;
constexpr std::uint8_t kNakChecksum = 0x04;
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

int RowOf(int row) {
  return row >= 0 && row < kModelRows - 1 ? row : static_cast<int>(kVtrIdGeneric);
}

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

DeckConfig DeckConfig::ForModel(int row) {
  DeckConfig c;
  c.model_row = RowOf(row);
  c.record_inhibit = vtrBallistics[c.model_row].fCanRecord == 0;
  c.edit_on_delay = vtrBallistics[c.model_row].wEditIn;
  c.edit_off_delay = vtrBallistics[c.model_row].wEditOut;
  return c;
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
    const int row = RowOf(c.model_row);
    code = c.device_type.value_or(vtrBallistics[row].wDeviceType);
    family = c.family;
    if (family == Family::kAuto) {
      family = code == 0xF001                     ? Family::kZdkr
               : code == 0xF015 || code == 0xF016 ? Family::kVdr
                                                  : Family::kStandard;
    }
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
  Micros last_in{0};
  double wire_in = 0;  // when the line into the deck is free, microseconds

  std::deque<OutByte> out;
  double wire_out = 0;  // when the line out of the deck is free, microseconds
  std::deque<Fault> faults;
  Bytes last_reply;
  bool connected = true;

  std::vector<TraceEntry> trace;
  std::function<void(const TraceEntry&)> sink;
  std::map<unsigned, std::uint8_t> zdkr;

  static double Us(Micros t) { return static_cast<double>(t.count()); }
  static Micros FromUs(double us) { return Micros{std::llround(us)}; }

  void Note(Direction d, Micros t, Bytes bytes, std::string name) {
    trace.push_back(TraceEntry{d, t, std::move(bytes), std::move(name)});
    if (sink) sink(trace.back());
  }

  void Settle(Micros now) {
    machine.Update(now);
    if (!block.empty() && now - last_in > kByteTimeout) TimeOut();
  }

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
    if (!block.empty() && t - last_in > kByteTimeout) TimeOut();
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
    const bool good = Sum(std::span(b).first(b.size() - 1)) == b.back();
    Note(Direction::kToDeck, t, b, CommandName(b) + (good ? "" : " (bad checksum)"));
    Reply(good ? Dispatch(b) : Nak(kNakChecksum), t);
  }

  // Sends a reply through the injected faults, a latency after `ready`.
  void Reply(Bytes bytes, Micros ready) {
    const Bytes real = bytes;
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

  Bytes DeviceType() const {
    auto d0 = static_cast<std::uint8_t>(code >> 8);
    if (config.standard == VideoStandard::kPal && config.pal_type_variant) {
      d0 = static_cast<std::uint8_t>((d0 & 0xF0) | 0x01);
    }
    return WithChecksum({0x12, 0x11, d0, static_cast<std::uint8_t>(code & 0xFF)});
  }

  Bytes TimeData(std::uint8_t kind, std::uint32_t count, bool flag_drop) const {
    FrameRate r = machine.Rate();
    if (!flag_drop) r.drop = false;
    const auto t = CountToBcd(count, r, flag_drop);
    return WithChecksum({0x74, kind, t[0], t[1], t[2], t[3]});
  }

  Bytes TimeSense(std::uint8_t source) const {
    const bool vitc_reads = config.has_vitc && machine.Slow();
    const auto ub = machine.user_bits;
    switch (source) {
      case 0x10:
      case 0x20:
      case 0x30: {
        const bool vitc = config.has_vitc && (source == 0x20 || (source == 0x30 && vitc_reads));
        return WithChecksum(
            {0x74, static_cast<std::uint8_t>(vitc ? 0x07 : 0x05), ub[0], ub[1], ub[2], ub[3]});
      }
      case 0x01:
      case 0x02:
      case 0x03:
        if (config.has_timecode) {
          const bool vitc = config.has_vitc && (source == 0x02 || (source == 0x03 && vitc_reads));
          return TimeData(vitc ? 0x06 : 0x04, machine.Timecode(), true);
        }
        [[fallthrough]];
      case 0x04:
        return TimeData(0x00, machine.Timer1(), false);
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

  std::uint8_t ZdkrGet(std::uint8_t set_cmd2, std::uint8_t channel) const {
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

  // Edit point commands of group 4 without data: entry, plus/minus, reset, recall.
  Bytes Points(std::uint8_t c2) {
    auto& p = machine.points;
    if (c2 >= 0x10 && c2 <= 0x13) {
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
    return Ack();
  }

  Bytes Dispatch(const Bytes& b) {
    const std::uint8_t c1 = b[0], c2 = b[1];
    const std::span<const std::uint8_t> d(b.data() + 2, b.size() - 3);
    const unsigned group = c1 >> 4u;
    Machine& m = machine;
    const auto tc_of = [&](std::size_t at) {
      return BcdToCount(std::span<const std::uint8_t, 4>(d.data() + at, 4), m.Rate());
    };
    const auto motion = [&](auto&& act) {
      if (m.Accepts()) act();
      return Ack();
    };

    if (group == 0xC) return Zdkr(c1, c2, d);
    if (group == 0xE) return Vendor(c1, c2, d);

    // Shuttle, jog and var take one or two speed bytes.
    if ((c1 == 0x21 || c1 == 0x22) &&
        (c2 == 0x11 || c2 == 0x12 || c2 == 0x13 || c2 == 0x21 || c2 == 0x22 || c2 == 0x23)) {
      const double v = SpeedForByte(d[0], d.size() > 1 ? d[1] : 0);
      const TransportMode kind = (c2 & 0x0F) == 1   ? TransportMode::kJog
                                 : (c2 & 0x0F) == 2 ? TransportMode::kVar
                                                    : TransportMode::kShuttle;
      return motion([&] { m.Scan(kind, (c2 & 0x20) ? -v : v); });
    }
    if ((c1 == 0x24 || c1 == 0x25) && c2 == 0x31) {
      if (!config.can_cue) return Nak(kNakUndefined);
      return motion([&] { m.Cue(tc_of(0)); });
    }

    switch (c1 * 256u + c2) {
      case 0x000C:
      case 0x001D:
        return Ack();
      case 0x0011:
        return DeviceType();
      case 0x2000:
        return motion([&] { m.Stop(); });
      case 0x2001:
        return motion([&] { m.Play(); });
      case 0x2002:
        return motion([&] { m.Record(); });
      case 0x2004:
      case 0x2005:
        m.Standby(c2 == 0x05);
        return Ack();
      case 0x200F:
        return motion([&] { m.Eject(); });
      case 0x2010:
      case 0x2020:
        return motion([&] { m.Wind(c2 == 0x10); });
      case 0x2014:
      case 0x2024:
        if (!config.can_step) return Nak(kNakUndefined);
        return motion([&] { m.Step(c2 == 0x14 ? 1 : -1); });
      case 0x2030:
        return motion([&] { m.StartRun(EditRun::kPreroll); });
      case 0x2040:
        return motion([&] { m.StartRun(EditRun::kPreview); });
      case 0x2041:
        return motion([&] { m.StartRun(EditRun::kReview); });
      case 0x2042:
        return motion([&] { m.StartRun(EditRun::kAutoEdit); });
      case 0x2043:
      case 0x215C:
      case 0x215D:
        return Ack();
      case 0x2060:
        m.full_ee = m.select_ee = false;
        return Ack();
      case 0x2061:
        m.full_ee = true;
        return Ack();
      case 0x2063:
        m.select_ee = true;
        return Ack();
      case 0x2064:
        return motion([&] { m.EditOff(); });
      case 0x2065:
        return motion([&] { m.EditOn(); });
      case 0x4400:
        m.PresetTimer1(tc_of(0));
        return Ack();
      case 0x4404:
        m.tc_generator = tc_of(0);
        return Ack();
      case 0x4405:
        std::copy(d.begin(), d.begin() + 4, m.user_bits.begin());
        return Ack();
      case 0x4008:
        m.PresetTimer1(0);
        return Ack();
      case 0x4414:
      case 0x4415:
      case 0x4416:
      case 0x4417:
        m.points[c2 - 0x14u] = tc_of(0);
        return Ack();
      case 0x402D:
        return Ack();
      case 0x4040:
      case 0x4041:
        m.auto_mode = c2 == 0x41;
        return Ack();
      case 0x4130:
        m.edit_preset = d[0];
        return Ack();
      case 0x4431:
        m.preroll_frames = tc_of(0);
        return Ack();
      case 0x4136:
        if (config.has_timecode) m.timer_mode = d[0] & 1u;
        return Ack();
      case 0x4135:
      case 0x4138:
      case 0x4139:
      case 0x413A:
        return Ack();
      case 0x610A:
        return TimeData(0x08, m.tc_generator, true);
      case 0x610C:
        return TimeSense(d[0]);
      case 0x6010:
      case 0x6011:
      case 0x6012:
      case 0x6013:
        return TimeData(c2, m.points[c2 - 0x10u].value_or(0), true);
      case 0x6120:
        return Status(d[0]);
      case 0x6036:
        return WithChecksum({0x71, 0x36, config.has_timecode ? m.timer_mode : std::uint8_t{1}});
      default:
        break;
    }
    if (c1 == 0x40 && c2 >= 0x10 && c2 <= 0x27 && (c2 < 0x14 || c2 > 0x17)) return Points(c2);
    return Nak(kNakUndefined);
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
  if (!impl_->block.empty()) {
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
  const Bytes b = impl_->DeviceType();
  return static_cast<std::uint16_t>(b[2] * 256u + b[3]);
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
  return impl_->trace;
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
