// Port names and mode text ("COM2:38400,o,8,1"), parsed the way Win32 does.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace vtr::platform::detail {
namespace {

constexpr int kDtrHandshake = 2;  // DTR_CONTROL_HANDSHAKE
constexpr int kRtsHandshake = 2;  // RTS_CONTROL_HANDSHAKE
constexpr int kRtsToggle = 3;     // RTS_CONTROL_TOGGLE

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// All decimal digits, at most 9 of them (no overflow), else nullopt.
std::optional<DWORD> Number(std::string_view s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  DWORD v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10u + static_cast<DWORD>(c - '0');
  }
  return v;
}

// The mode command's baud rates: two-digit abbreviations of the classic
// rates, any other number as given.
std::optional<DWORD> Baud(std::string_view s) {
  const auto v = Number(s);
  if (!v || *v == 0) return std::nullopt;
  switch (*v) {
    case 11:
      return 110;
    case 15:
      return 150;
    case 30:
      return 300;
    case 60:
      return 600;
    case 12:
      return 1200;
    case 24:
      return 2400;
    case 48:
      return 4800;
    case 96:
      return 9600;
    case 19:
      return 19200;
    default:
      return *v;
  }
}

std::optional<BYTE> Parity(std::string_view s) {
  if (s.size() != 1) return std::nullopt;
  switch (Lower(s[0])) {
    case 'n':
      return BYTE{NOPARITY};
    case 'o':
      return BYTE{ODDPARITY};
    case 'e':
      return BYTE{EVENPARITY};
    case 'm':
      return BYTE{MARKPARITY};
    case 's':
      return BYTE{SPACEPARITY};
    default:
      return std::nullopt;
  }
}

std::optional<BYTE> DataBits(std::string_view s) {
  const auto v = Number(s);
  if (!v || *v < 5 || *v > 8) return std::nullopt;
  return static_cast<BYTE>(*v);
}

std::optional<BYTE> StopBits(std::string_view s) {
  if (s == "1") return BYTE{ONESTOPBIT};
  if (s == "1.5") return BYTE{ONE5STOPBITS};
  if (s == "2") return BYTE{TWOSTOPBITS};
  return std::nullopt;
}

std::optional<bool> OnOff(std::string_view s) {
  if (EqualNoCase(s, "on")) return true;
  if (EqualNoCase(s, "off")) return false;
  return std::nullopt;
}

std::vector<std::string_view> Split(std::string_view s, std::string_view separators) {
  std::vector<std::string_view> parts;
  std::size_t pos = 0;
  for (;;) {
    const auto next = s.find_first_of(separators, pos);
    parts.push_back(s.substr(pos, next == std::string_view::npos ? next : next - pos));
    if (next == std::string_view::npos) return parts;
    pos = next + 1;
  }
}

// Flow control off unless the text asks for it.
void NoFlowControl(DCB& d) {
  d.fOutX = 0;
  d.fInX = 0;
  d.fOutxCtsFlow = 0;
  d.fOutxDsrFlow = 0;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
}

// "9600,n,8,1[,x|p]"; trailing fields may be left out.
bool ParseOldForm(std::string_view text, DCB& d) {
  const auto fields = Split(text, ",");
  if (fields.size() > 5) return false;
  const auto baud = Baud(Trim(fields[0]));
  if (!baud) return false;
  d.BaudRate = *baud;
  bool stopGiven = false;
  if (fields.size() > 1 && !Trim(fields[1]).empty()) {
    const auto p = Parity(Trim(fields[1]));
    if (!p) return false;
    d.Parity = *p;
  }
  if (fields.size() > 2 && !Trim(fields[2]).empty()) {
    const auto b = DataBits(Trim(fields[2]));
    if (!b) return false;
    d.ByteSize = *b;
  }
  if (fields.size() > 3 && !Trim(fields[3]).empty()) {
    const auto s = StopBits(Trim(fields[3]));
    if (!s) return false;
    d.StopBits = *s;
    stopGiven = true;
  }
  NoFlowControl(d);
  if (fields.size() > 4) {
    const auto f = Trim(fields[4]);
    if (EqualNoCase(f, "x")) {
      d.fOutX = 1;
      d.fInX = 1;
    } else if (EqualNoCase(f, "p")) {
      d.fOutxCtsFlow = 1;
      d.fOutxDsrFlow = 1;
      d.fDtrControl = kDtrHandshake;
      d.fRtsControl = kRtsHandshake;
    } else if (!f.empty()) {
      return false;
    }
  }
  // The mode command's rule: 110 baud implies two stop bits.
  if (d.BaudRate == 110 && !stopGiven) d.StopBits = TWOSTOPBITS;
  return true;
}

// "baud=9600 parity=n data=8 stop=1 [xon=on] [odsr=on] [octs=on] [dtr=on|off|hs]
// [rts=on|off|hs|tg] [idsr=on] [to=on]".
bool ParseNewForm(std::string_view text, DCB& d) {
  NoFlowControl(d);
  bool stopGiven = false;
  for (auto word : Split(text, " \t")) {
    if (word.empty()) continue;
    const auto eq = word.find('=');
    if (eq == std::string_view::npos) return false;
    const auto key = word.substr(0, eq);
    const auto value = word.substr(eq + 1);
    if (EqualNoCase(key, "baud")) {
      const auto b = Baud(value);
      if (!b) return false;
      d.BaudRate = *b;
    } else if (EqualNoCase(key, "parity")) {
      const auto p = Parity(value);
      if (!p) return false;
      d.Parity = *p;
    } else if (EqualNoCase(key, "data")) {
      const auto b = DataBits(value);
      if (!b) return false;
      d.ByteSize = *b;
    } else if (EqualNoCase(key, "stop")) {
      const auto s = StopBits(value);
      if (!s) return false;
      d.StopBits = *s;
      stopGiven = true;
    } else if (EqualNoCase(key, "xon")) {
      const auto on = OnOff(value);
      if (!on) return false;
      d.fOutX = *on;
      d.fInX = *on;
    } else if (EqualNoCase(key, "odsr")) {
      const auto on = OnOff(value);
      if (!on) return false;
      d.fOutxDsrFlow = *on;
    } else if (EqualNoCase(key, "octs")) {
      const auto on = OnOff(value);
      if (!on) return false;
      d.fOutxCtsFlow = *on;
    } else if (EqualNoCase(key, "idsr")) {
      const auto on = OnOff(value);
      if (!on) return false;
      d.fDsrSensitivity = *on;
    } else if (EqualNoCase(key, "dtr")) {
      if (EqualNoCase(value, "hs")) {
        d.fDtrControl = kDtrHandshake;
      } else if (const auto on = OnOff(value)) {
        d.fDtrControl = *on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
      } else {
        return false;
      }
    } else if (EqualNoCase(key, "rts")) {
      if (EqualNoCase(value, "hs")) {
        d.fRtsControl = kRtsHandshake;
      } else if (EqualNoCase(value, "tg")) {
        d.fRtsControl = kRtsToggle;
      } else if (const auto on = OnOff(value)) {
        d.fRtsControl = *on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
      } else {
        return false;
      }
    } else if (EqualNoCase(key, "to")) {
      if (!OnOff(value)) return false;  // time-outs live in COMMTIMEOUTS, not the DCB
    } else {
      return false;
    }
  }
  if (d.BaudRate == 110 && !stopGiven) d.StopBits = TWOSTOPBITS;
  return true;
}

}  // namespace

int ParseComPortName(std::string_view name) {
  if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
  if (!StartsNoCase(name, "com")) return 0;
  const auto digits = name.substr(3);
  if (digits.empty() || digits.size() > 2 || digits[0] == '0') return 0;
  const auto n = Number(digits);
  if (!n || *n > 98) return 0;
  return static_cast<int>(*n);
}

bool ParseCommMode(std::string_view text, DCB& dcb) {
  text = Trim(text);
  // An optional "COMn:" names the port; it is not checked against anything.
  if (StartsNoCase(text, "com")) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || ParseComPortName(text.substr(0, colon)) == 0) {
      return false;
    }
    text = Trim(text.substr(colon + 1));
  }
  if (text.empty()) return false;
  DCB d = dcb;
  const bool ok =
      text.find('=') != std::string_view::npos ? ParseNewForm(text, d) : ParseOldForm(text, d);
  if (!ok) return false;
  d.DCBlength = sizeof(DCB);
  dcb = d;
  return true;
}

}  // namespace vtr::platform::detail
