#include "host/console_output.h"

#include <cstdio>

#include "mci/mci_text.h"

namespace vtr::host {
namespace {

std::string ErrorFields(DWORD error) {
  return ",\"error\":" + std::to_string(error) + ",\"text\":" + JsonQuote(mci::ErrorText(error));
}

}  // namespace

std::string JsonQuote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string ConsoleOutput::Result(std::string_view command, const mci::CommandResult& r,
                                  std::string_view rejected) const {
  if (!json_) {
    std::string out = std::string(command) + " -> ";
    if (r.ok()) return out + (r.text.empty() ? std::string("ok") : r.text);
    out += "error " + std::to_string(r.error) + ": " + mci::ErrorText(r.error);
    if (!rejected.empty()) out += " (\"" + std::string(rejected) + "\")";
    if (!r.detail.empty()) out += " (" + r.detail + ")";
    return out;
  }
  std::string out = "{\"command\":" + JsonQuote(command);
  if (r.ok()) {
    return out + ",\"ok\":true" + (r.text.empty() ? "" : ",\"result\":" + JsonQuote(r.text)) + "}";
  }
  out += ",\"ok\":false" + ErrorFields(r.error);
  if (!rejected.empty()) out += ",\"word\":" + JsonQuote(rejected);
  if (!r.detail.empty()) out += ",\"detail\":" + JsonQuote(r.detail);
  return out + "}";
}

std::string ConsoleOutput::Ended(std::string_view command, const mci::CommandResult& r,
                                 std::string_view ending,
                                 const std::optional<std::string>& position,
                                 const std::optional<std::string>& timecode) const {
  if (!json_) {
    std::string out = std::string(command) + " -> " + std::string(ending);
    if (position && timecode && *timecode != *position) {
      out += " at " + *timecode + " (" + *position + ")";
    } else if (position) {
      out += " at " + *position;
    }
    return out;
  }
  std::string out =
      "{\"command\":" + JsonQuote(command) + ",\"ok\":false,\"ending\":" + JsonQuote(ending);
  if (!r.ok()) out += ErrorFields(r.error);
  if (position) out += ",\"position\":" + JsonQuote(*position);
  if (timecode) out += ",\"timecode\":" + JsonQuote(*timecode);
  return out + "}";
}

std::string ConsoleOutput::MessageJson(std::string_view command,
                                       const mci::MessageResult& r) const {
  std::string out = "{\"command\":" + JsonQuote(command) + ",\"ok\":" + (r.ok() ? "true" : "false");
  if (!r.ok()) out += ErrorFields(r.error);
  if (!r.text.empty()) out += ",\"return\":" + JsonQuote(r.text);
  out += ",\"words\":[";
  for (std::size_t i = 0; i < r.words.size(); ++i)
    out += (i > 0 ? "," : "") + std::to_string(r.words[i]);
  return out + "]}";
}

std::string ConsoleOutput::Notify(std::string_view command, UINT code) const {
  std::string name(mci::NotifyCodeName(code));
  if (!json_) return "notify " + name + ": " + std::string(command);
  return "{\"notify\":" + JsonQuote(name) + ",\"code\":" + std::to_string(code) +
         ",\"command\":" + JsonQuote(command) + "}";
}

std::string ConsoleOutput::Failure(std::string_view line, std::string_view why) const {
  if (!json_) return std::string(line) + " -> error: " + std::string(why);
  return "{\"command\":" + JsonQuote(line) + ",\"ok\":false,\"text\":" + JsonQuote(why) + "}";
}

}  // namespace vtr::host
