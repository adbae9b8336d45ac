// The fuzz entry over a bounded set of generated and mutated command strings,
// with a fixed seed, so CI exercises it without libFuzzer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mci/command_table.h"
#include "tests/host/fuzz_entry.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::mci::testing {
namespace {

std::vector<std::string> Words() {
  auto table = std::get<CommandTable>(CommandTable::Load(resource::kVcrCommandTable));
  std::vector<std::string> words{"tape", "all", "open",        "close", "sysinfo",   "break",
                                 "vcr",  "\"",  "\"\"",        "-",     ":",         "1:2:3:4",
                                 "256",  "-1",  "99999999999", "alias", "shareable", "quantity"};
  for (const CommandDef& c : table.Commands()) {
    words.push_back(c.verb);
    for (const CommandItem& i : c.items) {
      words.push_back(i.keyword);
      for (const ConstantWord& w : i.words) words.push_back(w.keyword);
    }
  }
  return words;
}

TEST(ParserFuzz, GeneratedAndMutatedCommandsNeverCrash) {
  const std::vector<std::string> words = Words();
  std::mt19937 rng(20240601);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  for (int i = 0; i < 4000; ++i) {
    std::string cmd;
    std::size_t n = pick(8);
    for (std::size_t k = 0; k < n; ++k) {
      if (k == 1 && pick(4) != 0) {
        cmd += "tape ";
        continue;
      }
      cmd += words[pick(words.size())];
      if (pick(6) != 0) cmd += ' ';
    }
    // Mutations: flip, insert and drop bytes.
    for (std::size_t m = pick(4); m > 0 && !cmd.empty(); --m) {
      std::size_t at = pick(cmd.size());
      switch (pick(3)) {
        case 0:
          cmd[at] = static_cast<char>(pick(256));
          break;
        case 1:
          cmd.insert(at, 1, static_cast<char>(pick(256)));
          break;
        default:
          cmd.erase(at, 1);
          break;
      }
    }
    FuzzOneInput(reinterpret_cast<const std::uint8_t*>(cmd.data()), cmd.size());
  }
  SUCCEED();
}

}  // namespace
}  // namespace vtr::mci::testing
