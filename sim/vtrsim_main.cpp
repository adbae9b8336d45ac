// vtrsim: the virtual deck on a pseudo-terminal.
//
// Prints the terminal's path as its first line on stdout; point a 9-pin
// controller at that path (for the driver: VTR422_COMn=<path>). Runs until
// SIGINT or SIGTERM. Lines on stdin work the front panel (see --help).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/deck.h"
#include "sim/personalities.h"

namespace {

using vtr::sim::Deck;
using vtr::sim::DeckConfig;
using vtr::sim::Fault;
using vtr::sim::FaultKind;
using vtr::sim::Micros;

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

const char kUsage[] = R"(usage: vtrsim [options]
Runs a virtual 9-pin VTR on a pseudo-terminal and prints the terminal's path.

Machine:
  --model NAME|HEX     the machine (default BVW-75), by name or by device type
                       code; a code no machine reports runs the generic deck
                       reporting it. --list shows the machines
  --device-type HEX    report this device type code instead of the machine's
  --family F           auto, standard, zdkr or vdr (default auto: the machine's)
  --pal | --drop-frame video standard (default NTSC non-drop); a PAL deck
                       reports its 625/50 code
  --no-pal-variant     a PAL deck reports the 525/60 device type code
  --no-cue --no-step --no-timecode --no-vitc --record-inhibit
                       capabilities
  --latency-ms MS      reply latency (default 2, at most 9)
  --pacing             bytes take their time on the line (286.5 us each)
  --status-delay N     play/record status shows N frames after motion starts (default 5)
  --relax LIST         relax the deck's strictness, a comma-separated list of:
                         early    carry out a block sent before the previous reply
                         timeout  join bytes however far apart (no 10 ms time out)
                         local    obey commands under local control
                         tape     load a blank cassette for a motion command
                         servo    lock the servo at once after play
                       or all
Tape:
  --tape-minutes N     tape length (default 30)
  --start-tc HH:MM:SS:FF  timecode at the start of the tape (default 00:00:00:00)
  --position FRAMES    initial position
  --no-tape            start without a cassette
  --local              start under front-panel control
Faults (repeatable; each hits every reply unless /N limits it to the next N):
  --fault silence | nak:BITS | checksum | drop:INDEX | delay:INDEX:MS |
          noise:HEX,HEX,... | wrong | vanish:SECONDS
Output:
  --trace              print every block, decoded, on stderr
  --help, --list
Front panel, one command a line on stdin:
  stop | eject | load [FRAMES] | pos FRAMES | local on|off | fault FAULT | clear | status
  recorded (what is recorded where, per track)

What every machine answers (docs/vtrsim.md has the reply forms):
  00 0C 00 11 00 1D; 20 00 01 04 05 0F 10 14 20 24 30 34 60 61 63, 2X 11 12 13
  21 22 23 5C 5D (one or two speed bytes), 24 31 and 25 31 (cue up); 44 00 14
  15 16 17 31, 40 08 10..27 2D 40 41, 41 32..3B; 61 0C (any of 01 02 04 08
  10 20 combined; 8 bytes for a time with user bits), 61 20, 60 10..13 2B 2E
  31 36. Recorders also: 20 02 64 65, 44 04 05, 41 30, 42 30, 40 42..45, 61 0A
  (01 10 11), 61 30 (01 02), 60 3E; editing recorders also 20 40 41 42 43.
  ZDKR machines: C0 C1 C2 and E0 FF; VDR machines: E0 15 2A 2B, E1 11.
  Anything else, and a recording command to a player: NAK 01 (undefined).
)";

std::optional<unsigned long> Number(const std::string& s, int base = 10) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(s.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return v;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  for (std::string p; std::getline(in, p, sep);) parts.push_back(p);
  return parts;
}

// "kind[:args][/times]". vanish is returned through `vanish_after`.
std::optional<Fault> ParseFault(const std::string& text, std::optional<double>& vanish_after) {
  Fault f;
  f.times = Fault::kAlways;
  std::string body = text;
  if (auto slash = text.find('/'); slash != std::string::npos) {
    auto n = Number(text.substr(slash + 1));
    if (!n || *n == 0) return std::nullopt;
    f.times = static_cast<int>(*n);
    body = text.substr(0, slash);
  }
  const auto parts = Split(body, ':');
  if (parts.empty()) return std::nullopt;
  const std::string& kind = parts[0];
  if (kind == "silence" && parts.size() == 1) {
    f.kind = FaultKind::kSilence;
  } else if (kind == "checksum" && parts.size() == 1) {
    f.kind = FaultKind::kCorruptChecksum;
  } else if (kind == "wrong" && parts.size() == 1) {
    f.kind = FaultKind::kWrongReply;
  } else if (kind == "nak" && parts.size() == 2) {
    auto bits = Number(parts[1], 0);
    if (!bits || *bits > 0xFF) return std::nullopt;
    f.kind = FaultKind::kNak;
    f.nak_bits = static_cast<std::uint8_t>(*bits);
  } else if (kind == "drop" && parts.size() == 2) {
    auto i = Number(parts[1]);
    if (!i) return std::nullopt;
    f.kind = FaultKind::kDropByte;
    f.byte_index = *i;
  } else if (kind == "delay" && parts.size() == 3) {
    auto i = Number(parts[1]);
    auto ms = Number(parts[2]);
    if (!i || !ms) return std::nullopt;
    f.kind = FaultKind::kDelayByte;
    f.byte_index = *i;
    f.delay = Micros{static_cast<std::int64_t>(*ms) * 1000};
  } else if (kind == "noise" && parts.size() == 2) {
    f.kind = FaultKind::kNoise;
    f.noise.clear();
    for (const std::string& h : Split(parts[1], ',')) {
      auto b = Number(h, 16);
      if (!b || *b > 0xFF) return std::nullopt;
      f.noise.push_back(static_cast<std::uint8_t>(*b));
    }
    if (f.noise.empty()) return std::nullopt;
  } else if (kind == "vanish" && parts.size() == 2) {
    char* end = nullptr;
    const double s = std::strtod(parts[1].c_str(), &end);
    if (*end != '\0' || s < 0) return std::nullopt;
    vanish_after = s;
    return Fault{.kind = FaultKind::kSilence, .times = 0};
  } else {
    return std::nullopt;
  }
  return f;
}

std::optional<std::uint32_t> ParseTimecode(const std::string& s, int fps) {
  const auto p = Split(s, ':');
  if (p.size() != 4) return std::nullopt;
  unsigned long v[4];
  for (int i = 0; i < 4; ++i) {
    auto n = Number(p[static_cast<std::size_t>(i)]);
    if (!n) return std::nullopt;
    v[i] = *n;
  }
  const auto f = static_cast<unsigned long>(fps);
  return static_cast<std::uint32_t>(((v[0] * 60 + v[1]) * 60 + v[2]) * f + v[3]);
}

const char* ModeName(vtr::sim::TransportMode m) {
  using vtr::sim::TransportMode;
  switch (m) {
    case TransportMode::kStop:
      return "stop";
    case TransportMode::kPlay:
      return "play";
    case TransportMode::kRecord:
      return "record";
    case TransportMode::kFastForward:
      return "fast forward";
    case TransportMode::kRewind:
      return "rewind";
    case TransportMode::kShuttle:
      return "shuttle";
    case TransportMode::kJog:
      return "jog";
    case TransportMode::kVar:
      return "var";
    case TransportMode::kStill:
      return "still";
    case TransportMode::kCue:
      return "cue";
    case TransportMode::kEject:
      return "ejecting";
    case TransportMode::kNoTape:
      return "no tape";
  }
  return "?";
}

void PanelCommand(Deck& deck, const std::string& line, std::optional<double>& vanish_after) {
  std::istringstream in(line);
  std::string cmd, arg;
  in >> cmd >> arg;
  if (cmd.empty()) return;
  if (cmd == "stop") {
    deck.PanelStop();
  } else if (cmd == "eject") {
    deck.PanelEject();
  } else if (cmd == "load") {
    deck.LoadTape(static_cast<std::uint32_t>(Number(arg).value_or(0)));
  } else if (cmd == "pos" && Number(arg)) {
    deck.SetPosition(static_cast<std::uint32_t>(*Number(arg)));
  } else if (cmd == "local" && (arg == "on" || arg == "off")) {
    deck.SetLocal(arg == "on");
  } else if (cmd == "fault") {
    auto f = ParseFault(arg, vanish_after);
    if (!f) {
      std::cerr << "vtrsim: bad fault " << arg << "\n";
      return;
    }
    if (f->times != 0) deck.InjectFault(*f);
  } else if (cmd == "clear") {
    deck.ClearFaults();
  } else if (cmd == "status") {
    const auto s = deck.State();
    std::cerr << "vtrsim: " << ModeName(s.mode) << ", position " << s.position << ", speed "
              << s.speed << (s.local ? ", local" : "")
              << (s.cue_complete ? ", cue-up complete" : "") << "\n";
  } else if (cmd == "recorded") {
    std::cerr << FormatRecordMap(deck.Recorded(), deck.Config().standard);
  } else {
    std::cerr << "vtrsim: unknown panel command: " << line << "\n";
  }
}

// A machine by name, or by device type code (0x...): a code no machine
// reports gives the generic deck reporting it.
std::optional<DeckConfig> MachineNamed(const std::string& v) {
  if (const vtr::sim::Personality* p = vtr::sim::FindPersonality(v)) return DeckConfig::For(*p);
  if (v.rfind("0x", 0) != 0 && v.rfind("0X", 0) != 0) return std::nullopt;
  auto n = Number(v.substr(2), 16);
  if (!n || *n > 0xFFFF) return std::nullopt;
  const auto code = static_cast<std::uint16_t>(*n);
  if (const vtr::sim::Personality* p = vtr::sim::FindPersonalityByType(code)) {
    return DeckConfig::For(*p);
  }
  DeckConfig c = DeckConfig::For(vtr::sim::GenericPersonality());
  c.device_type = code;
  return c;
}

bool Relax(const std::string& list, vtr::sim::Strictness& s) {
  for (const std::string& w : Split(list, ',')) {
    if (w == "all") {
      s = {false, false, false, false, false};
    } else if (w == "early") {
      s.early_blocks = false;
    } else if (w == "timeout") {
      s.byte_timeout = false;
    } else if (w == "local") {
      s.local = false;
    } else if (w == "tape") {
      s.tape = false;
    } else if (w == "servo") {
      s.servo = false;
    } else {
      return false;
    }
  }
  return true;
}

void ListMachines() {
  std::printf("%-10s %-18s %-9s %-9s %s\n", "machine", "maker", "525/60", "625/50", "kind");
  const auto line = [](const vtr::sim::Personality& p) {
    const char* kind = !p.records ? "player" : p.edits ? "editing recorder" : "recorder";
    std::printf("%-10s %-18s %02X %02X     %02X %02X     %s%s%s\n", p.name, p.maker,
                p.type_525 >> 8, p.type_525 & 0xFF, p.type_625 >> 8, p.type_625 & 0xFF, kind,
                p.vitc ? "" : ", no VITC reader",
                p.family == vtr::sim::Family::kZdkr  ? ", ZDKR commands"
                : p.family == vtr::sim::Family::kVdr ? ", VDR commands"
                                                     : "");
  };
  for (const vtr::sim::Personality& p : vtr::sim::Personalities()) line(p);
  line(vtr::sim::GenericPersonality());
}

int OpenPty(std::string& slave_path, int& slave_fd) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* name = ptsname(master);
  if (name == nullptr) return -1;
  slave_path = name;
  // Holding the slave open keeps the master readable across controller
  // reconnects, and lets us put the line in raw mode before anyone opens it.
  slave_fd = open(name, O_RDWR | O_NOCTTY);
  if (slave_fd < 0) return -1;
  termios tio{};
  tcgetattr(slave_fd, &tio);
  cfmakeraw(&tio);
  tio.c_cflag |= PARENB | PARODD | CS8;
  cfsetispeed(&tio, B38400);
  cfsetospeed(&tio, B38400);
  tcsetattr(slave_fd, TCSANOW, &tio);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return master;
}

}  // namespace

int main(int argc, char** argv) {
  DeckConfig cfg;
  std::optional<std::uint16_t> code;
  std::string start_tc;
  std::vector<Fault> faults;
  std::optional<double> vanish_after;
  bool trace = false;
  bool local = false;
  double tape_minutes = 30;

  const std::vector<std::string> args(argv + 1, argv + argc);
  // The machine first: the other options change what it brings.
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] != "--model") continue;
    auto machine = MachineNamed(args[i + 1]);
    if (!machine) {
      std::cerr << "vtrsim: unknown machine " << args[i + 1] << " (try --list)\n";
      return 2;
    }
    cfg = *machine;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) {
        std::cerr << "vtrsim: " << a << " needs a value\n";
        std::exit(2);
      }
      return args[++i];
    };
    auto bad = [&](const std::string& v) {
      std::cerr << "vtrsim: bad value for " << a << ": " << v << "\n";
      std::exit(2);
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage << "\nThe machines:\n" << std::flush;
      ListMachines();
      return 0;
    } else if (a == "--list") {
      ListMachines();
      return 0;
    } else if (a == "--model") {
      value();  // taken before the other options
    } else if (a == "--device-type") {
      const std::string v = value();
      auto n = Number(v, 16);
      if (!n || *n > 0xFFFF) bad(v);
      code = static_cast<std::uint16_t>(*n);
    } else if (a == "--family") {
      const std::string v = value();
      if (v == "auto")
        cfg.family = vtr::sim::Family::kAuto;
      else if (v == "standard")
        cfg.family = vtr::sim::Family::kStandard;
      else if (v == "zdkr")
        cfg.family = vtr::sim::Family::kZdkr;
      else if (v == "vdr")
        cfg.family = vtr::sim::Family::kVdr;
      else
        bad(v);
    } else if (a == "--pal") {
      cfg.standard = vtr::sim::VideoStandard::kPal;
    } else if (a == "--drop-frame") {
      cfg.standard = vtr::sim::VideoStandard::kNtscDropFrame;
    } else if (a == "--no-pal-variant") {
      cfg.pal_type_variant = false;
    } else if (a == "--no-cue") {
      cfg.can_cue = false;
    } else if (a == "--no-step") {
      cfg.can_step = false;
    } else if (a == "--no-timecode") {
      cfg.has_timecode = false;
    } else if (a == "--no-vitc") {
      cfg.has_vitc = false;
    } else if (a == "--record-inhibit") {
      cfg.record_inhibit = true;
    } else if (a == "--relax") {
      const std::string v = value();
      if (!Relax(v, cfg.strict)) bad(v);
    } else if (a == "--latency-ms") {
      const std::string v = value();
      char* end = nullptr;
      const double ms = std::strtod(v.c_str(), &end);
      if (*end != '\0' || ms < 0 || ms > 9) bad(v);
      cfg.latency = Micros{static_cast<std::int64_t>(ms * 1000)};
    } else if (a == "--pacing") {
      cfg.line_pacing = true;
    } else if (a == "--status-delay") {
      const std::string v = value();
      auto n = Number(v);
      if (!n || *n > 100) bad(v);
      cfg.status_delay_frames = static_cast<int>(*n);
    } else if (a == "--tape-minutes") {
      const std::string v = value();
      auto n = Number(v);
      if (!n || *n == 0 || *n > 24 * 60) bad(v);
      tape_minutes = static_cast<double>(*n);
    } else if (a == "--start-tc") {
      start_tc = value();
    } else if (a == "--position") {
      const std::string v = value();
      auto n = Number(v);
      if (!n) bad(v);
      cfg.position = static_cast<std::uint32_t>(*n);
    } else if (a == "--no-tape") {
      cfg.tape_loaded = false;
    } else if (a == "--local") {
      local = true;
    } else if (a == "--fault") {
      const std::string v = value();
      auto f = ParseFault(v, vanish_after);
      if (!f) bad(v);
      if (f->times != 0) faults.push_back(*f);
    } else if (a == "--trace") {
      trace = true;
    } else {
      std::cerr << "vtrsim: unknown option " << a << " (try --help)\n";
      return 2;
    }
  }
  if (code) cfg.device_type = code;
  cfg.trace_limit = 0;  // --trace prints as blocks go; nothing is kept
  const int fps = cfg.standard == vtr::sim::VideoStandard::kPal ? 25 : 30;
  cfg.tape_frames = static_cast<std::uint32_t>(tape_minutes * 60 * fps);
  cfg.near_end_frames = static_cast<std::uint32_t>(60 * fps);
  if (!start_tc.empty()) {
    auto tc = ParseTimecode(start_tc, fps);
    if (!tc) {
      std::cerr << "vtrsim: bad --start-tc " << start_tc << "\n";
      return 2;
    }
    cfg.start_timecode = *tc;
  }

  std::string slave_path;
  int slave_fd = -1;
  int master = OpenPty(slave_path, slave_fd);
  if (master < 0) {
    std::perror("vtrsim: pseudo-terminal");
    return 1;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  auto deck = std::make_shared<Deck>(cfg);
  if (local) deck->SetLocal(true);
  for (const Fault& f : faults) deck->InjectFault(f);
  if (trace) {
    deck->SetTraceSink([](const vtr::sim::TraceEntry& e) {
      std::fprintf(stderr, "%s\n", vtr::sim::FormatTraceEntry(e).c_str());
    });
  }

  std::printf("%s\n", slave_path.c_str());
  std::fflush(stdout);

  const Micros started = vtr::platform::Now();
  bool stdin_open = true;
  std::string panel_line;
  std::uint8_t buf[256];
  while (!gStop) {
    const Micros now = vtr::platform::Now();
    if (vanish_after && master >= 0 &&
        static_cast<double>((now - started).count()) >= *vanish_after * 1e6) {
      deck->SetConnected(false);
      close(master);
      close(slave_fd);
      master = slave_fd = -1;
      std::fprintf(stderr, "vtrsim: port vanished\n");
    }
    int timeout_ms = 100;
    if (auto next = deck->NextArrival()) {
      const auto wait = (*next - now).count();
      timeout_ms =
          wait <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>((wait + 999) / 1000, 100));
    }
    pollfd fds[2] = {{master, POLLIN, 0}, {stdin_open ? 0 : -1, POLLIN, 0}};
    const int r = poll(fds, 2, timeout_ms);
    if (r < 0 && errno != EINTR) break;
    if (r > 0 && master >= 0 && (fds[0].revents & POLLIN)) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) deck->Receive(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
    }
    if (r > 0 && stdin_open && (fds[1].revents & (POLLIN | POLLHUP))) {
      char c[128];
      const ssize_t n = read(0, c, sizeof c);
      if (n <= 0) {
        stdin_open = false;
      } else {
        panel_line.append(c, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = panel_line.find('\n')) != std::string::npos;) {
          PanelCommand(*deck, panel_line.substr(0, nl), vanish_after);
          panel_line.erase(0, nl + 1);
        }
      }
    }
    if (master >= 0) {
      const std::size_t n = deck->Transmit(buf);
      std::size_t done = 0;
      while (done < n) {
        const ssize_t w = write(master, buf + done, n - done);
        if (w > 0) {
          done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
          break;
        } else {
          pollfd out{master, POLLOUT, 0};
          poll(&out, 1, 10);
        }
      }
    }
  }
  if (master >= 0) close(master);
  if (slave_fd >= 0) close(slave_fd);
  return 0;
}
