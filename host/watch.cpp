#include "host/watch.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "mci/parser.h"
#include "sim/timecode.h"

namespace vtr::host {
namespace {

constexpr const char* kClearToEnd = "\x1b[K";

// The terminal's keys come one at a time, unechoed, while it lives.
class RawKeys {
 public:
  explicit RawKeys(int fd) : fd_(fd), raw_(isatty(fd) == 1 && tcgetattr(fd, &saved_) == 0) {
    if (!raw_) return;
    termios t = saved_;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~RawKeys() {
    if (raw_) tcsetattr(fd_, TCSANOW, &saved_);
  }
  RawKeys(const RawKeys&) = delete;
  RawKeys& operator=(const RawKeys&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool raw_;
};

void Show(const WatchIo& io, const std::string& text, bool inPlace) {
  std::lock_guard lock(*io.outMutex);
  if (inPlace) {
    std::fprintf(io.out, "\r%s%s", text.c_str(), kClearToEnd);
  } else {
    std::fprintf(io.out, "%s\n", text.c_str());
  }
  std::fflush(io.out);
}

}  // namespace

std::string DisplayTimecode(const std::string& position, const std::string& frameRate) {
  if (position.find(':') != std::string::npos) return position;  // already colonised
  char* end = nullptr;
  unsigned long frames = std::strtoul(position.c_str(), &end, 10);
  if (position.empty() || *end != '\0') return position;
  auto rate = sim::RateOf(frameRate == "25" ? sim::VideoStandard::kPal : sim::VideoStandard::kNtsc);
  auto bcd = sim::CountToBcd(static_cast<std::uint32_t>(frames % rate.per_day), rate, false);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x", bcd[3], bcd[2], bcd[1], bcd[0]);
  return buf;
}

std::optional<DeckSample> SampleDeck(mci::MciLibrary& lib, std::string_view alias,
                                     mci::CommandResult* failure) {
  std::string a(alias);
  std::vector<std::string> answers;
  for (const char* item : {"position", "frame rate", "mode", "speed"}) {
    mci::CommandResult r = lib.SendString("status " + a + " " + item);
    if (!r.ok()) {
      if (failure != nullptr) *failure = r;
      return std::nullopt;
    }
    answers.push_back(r.text);
  }
  return DeckSample{answers[0], DisplayTimecode(answers[0], answers[1]), answers[2], answers[3]};
}

std::string FormatSample(const ConsoleOutput& out, std::string_view alias, const DeckSample& s,
                         const std::optional<std::string>& owed) {
  if (out.Json()) {
    return "{\"watch\":" + JsonQuote(alias) + ",\"position\":" + JsonQuote(s.position) +
           ",\"timecode\":" + JsonQuote(s.timecode) + ",\"mode\":" + JsonQuote(s.mode) +
           ",\"speed\":" + JsonQuote(s.speed) + ",\"owed\":" + (owed ? JsonQuote(*owed) : "null") +
           "}";
  }
  return std::string(alias) + "  " + s.timecode + "  " + s.mode + "  speed " + s.speed +
         "  owed: " + owed.value_or("none");
}

bool RunWatch(mci::MciLibrary& lib, const ConsoleOutput& out, std::string_view alias,
              const std::function<std::optional<std::string>()>& owed, const WatchIo& io) {
  // Refreshed in place on a terminal; elsewhere one line per refresh.
  const bool inPlace = !out.Json() && isatty(fileno(io.out)) == 1;
  RawKeys keys(io.input);
  for (;;) {
    mci::CommandResult failure;
    auto sample = SampleDeck(lib, alias, &failure);
    if (!sample) {
      if (inPlace) Show(io, "", true);
      Show(io, out.Result(".watch " + std::string(alias), failure), false);
      return false;
    }
    Show(io, FormatSample(out, alias, *sample, owed()), inPlace);
    pollfd p{io.input, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(io.period.count())) != 0) {
      char c;
      if (p.revents & POLLIN) [[maybe_unused]]
        auto n = read(io.input, &c, 1);
      break;  // a key, the input's end or an error
    }
  }
  if (inPlace) {
    std::lock_guard lock(*io.outMutex);
    std::fputc('\n', io.out);
    std::fflush(io.out);
  }
  return true;
}

std::optional<std::pair<std::string, std::string>> WaitTarget(std::string_view command) {
  std::vector<mci::Token> tokens;
  if (mci::Tokenize(command, tokens) != 0 || tokens.size() < 2) return std::nullopt;
  std::string verb = mci::ToLowerAscii(tokens[0].text);
  if (verb != "seek" && verb != "cue" && verb != "play") return std::nullopt;
  std::optional<std::string> target;
  bool wait = false;
  for (std::size_t i = 2; i < tokens.size(); ++i) {
    std::string word = tokens[i].quoted ? std::string() : mci::ToLowerAscii(tokens[i].text);
    if (word == "wait") wait = true;
    if (word == "to" && i + 1 < tokens.size()) target = tokens[i + 1].text;
  }
  if (!wait || !target) return std::nullopt;
  return std::make_pair(tokens[1].text, *target);
}

ProgressLine::ProgressLine(mci::MciLibrary& lib, std::string alias, std::string target,
                           const WatchIo& io)
    : io_(io) {
  thread_ = std::thread([this, &lib, alias = std::move(alias), target = std::move(target)] {
    std::unique_lock lock(mutex_);
    while (!cv_.wait_for(lock, io_.period, [&] { return done_; })) {
      lock.unlock();
      mci::CommandResult r = lib.SendString("status " + alias + " position");
      if (r.ok()) Show(io_, "  " + alias + " position " + r.text + " -> " + target, true);
      lock.lock();
    }
  });
}

ProgressLine::~ProgressLine() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  cv_.notify_all();
  thread_.join();
  std::lock_guard lock(*io_.outMutex);
  std::fprintf(io_.out, "\r%s", kClearToEnd);
  std::fflush(io_.out);
}

}  // namespace vtr::host
