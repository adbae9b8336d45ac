// vcrdump: prints a command table resource entry by entry, after validating
// it. Without an argument it dumps the driver's built-in "VCR" table.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "mci/command_table.h"
#include "vtr_resource/vcr_resources.h"

int main(int argc, char** argv) {
  std::vector<std::uint8_t> bytes(vtr::resource::kVcrCommandTable.begin(),
                                  vtr::resource::kVcrCommandTable.end());
  if (argc > 1) {
    std::string_view arg = argv[1];
    if (arg == "-h" || arg == "--help") {
      std::puts(
          "usage: vcrdump [TABLE.bin]\n"
          "Validates and prints an MCI command table resource (default: the built-in VCR table).");
      return 0;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "vcrdump: cannot read %s\n", argv[1]);
      return 2;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto loaded = vtr::mci::CommandTable::Load(bytes);
  if (auto* err = std::get_if<vtr::mci::TableError>(&loaded)) {
    std::fprintf(stderr, "vcrdump: invalid table at byte %zu: %s\n", err->offset,
                 err->message.c_str());
    return 1;
  }
  std::fputs(vtr::mci::DumpTable(std::get<vtr::mci::CommandTable>(loaded)).c_str(), stdout);
  return 0;
}
