// vtrconfig: the driver's configuration dialogs in a terminal.
//   vtrconfig [--device vcrN | --section NAME] [--profile-dir DIR]
// The port list holds COM1..COM8 that open (each resolves through VTR422_COMn,
// the VTR422_PORTS file, /dev/ttyS{n-1}) and the section's own port; the form
// shows where each leads.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "host/dialog_form.h"
#include "host/driver_binding.h"
#include "mci/command_table.h"
#include "mci/mci_library.h"
#include "mci/mci_text.h"

namespace {

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vtrconfig [--device vcrN | --section NAME] [--profile-dir DIR]\n"
               "Opens the configuration dialogs of one device's section of VTR.INI.\n"
               "  --device vcrN       the installed device: vcr (section videotape), vcr1..vcr99\n"
               "  --section NAME      the section: videotape, videotape1..videotape99\n"
               "  --profile-dir DIR   where VTR.INI is (default $VTR422_PROFILE_DIR,\n"
               "                      $XDG_CONFIG_HOME/vtr422 or ~/.config/vtr422)\n"
               "Keys: Tab/Shift-Tab and arrows move, Space checks, chooses or opens a list,\n"
               "Enter is OK, Escape is Cancel.\n");
}

// "videotape" plus at most two digits gives "vcr" plus the same digits.
std::optional<std::string> DeviceOfSection(const std::string& section) {
  const std::string lower = vtr::mci::ToLowerAscii(section);
  const std::string base = "videotape";
  if (lower.compare(0, base.size(), base) != 0 || lower.size() > base.size() + 2) return {};
  for (std::size_t i = base.size(); i < lower.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(lower[i]))) return {};
  }
  return "vcr" + lower.substr(base.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::string device = "vcr";
  bool named = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      Usage(stdout);
      return 0;
    }
    if ((a == "--device" || a == "--section" || a == "--profile-dir") && i + 1 >= argc) {
      std::fprintf(stderr, "vtrconfig: %s needs a value\n", a.c_str());
      return 2;
    }
    if (a == "--device" || a == "--section") {
      if (named) {
        std::fprintf(stderr, "vtrconfig: give one of --device and --section\n");
        return 2;
      }
      named = true;
      const std::string v = argv[++i];
      if (a == "--device") {
        device = vtr::mci::ToLowerAscii(v);
      } else if (auto d = DeviceOfSection(v)) {
        device = *d;
      } else {
        std::fprintf(stderr,
                     "vtrconfig: %s is not a device section (videotape, videotape1 .. "
                     "videotape99)\n",
                     v.c_str());
        return 2;
      }
    } else if (a == "--profile-dir") {
      setenv("VTR422_PROFILE_DIR", argv[++i], 1);
    } else {
      std::fprintf(stderr, "vtrconfig: unknown option %s (try --help)\n", a.c_str());
      return 2;
    }
  }
  if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0) {
    std::fprintf(stderr, "vtrconfig: needs a terminal (stdin and stdout)\n");
    return 2;
  }

  vtr::host::TerminalForm form;
  vtr::platform::SetDialogUi(&form);
  DWORD err = 0;
  {
    vtr::mci::MciLibrary lib(vtr::host::RealDriver());
    err = lib.Configure(device, vtr::platform::ConsoleWindow());
  }
  vtr::platform::SetDialogUi(nullptr);
  if (err != 0) {
    std::fprintf(stderr, "vtrconfig: %s: error %u: %s\n", device.c_str(),
                 static_cast<unsigned>(err), vtr::mci::ErrorText(err).c_str());
    return 1;
  }
  if (form.Failed()) {
    const char* term = std::getenv("TERM");
    std::fprintf(stderr, "vtrconfig: the terminal cannot show the dialogs (TERM=%s)\n",
                 term != nullptr ? term : "");
    return 1;
  }
  return 0;
}
