// Private profile files ("VTR.INI") with the Windows profile service's rules.
//
// Reading is forgiving: whatever the file holds, a lookup yields a number or
// the default. Writing keeps every line it does not change byte for byte and
// replaces the file atomically, under an exclusive lock on a sidecar file so
// that concurrent writers (the dialogs of two programs) lose no keys. A save
// of many keys is one such replacement.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One line of the file: its text and its line end ("\n", "\r\n" or none for
// an unterminated last line). A CR before the LF belongs to the line end.
struct Line {
  std::string text;
  std::string end;
};

// The UTF-8 byte-order mark Windows editors put before the first line. It is
// not part of the first line (which would then be no section header); writes
// keep it.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view ByteOrderMark(std::string_view data) {
  return data.substr(0, data.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0);
}

std::vector<Line> SplitLines(std::string_view data) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const auto nl = data.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({std::string(data.substr(pos)), ""});
      break;
    }
    std::size_t textEnd = nl;
    if (textEnd > pos && data[textEnd - 1] == '\r') --textEnd;
    lines.push_back({std::string(data.substr(pos, textEnd - pos)),
                     std::string(data.substr(textEnd, nl + 1 - textEnd))});
    pos = nl + 1;
  }
  return lines;
}

// "[name]" (blanks allowed around and inside the brackets). A line without
// the closing bracket is not a header.
std::optional<std::string_view> SectionName(std::string_view text) {
  const auto t = Trim(text);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;    // as spelled, blanks trimmed
  std::string_view value;  // blanks trimmed, quotes kept
  std::size_t keyOffset;   // where the key starts in the line (its leading blanks precede it)
};

// "key = value". A line without '=' names no key.
std::optional<KeyLine> ParseKeyLine(std::string_view text) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const auto left = text.substr(0, eq);
  const auto keyOffset = left.find_first_not_of(kBlanks);
  return KeyLine{Trim(left), Trim(text.substr(eq + 1)),
                 keyOffset == std::string_view::npos ? eq : keyOffset};
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// C atoi without its undefined overflow: digits accumulate modulo 2^32, the
// way a 32-bit conversion wraps.
UINT AtoiWrapped(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                          s[i] == '\v' || s[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::uint32_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(s[i] - '0');
  }
  return negative ? 0u - value : value;
}

std::string ProfileDirectory() {
  if (const char* dir = std::getenv("VTR422_PROFILE_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    return std::string(xdg) + "/vtr422";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.config/vtr422";
}

// A bare name lives in the profile directory (the stand-in for the Windows
// directory); a name with a '/' is a path.
std::string ProfilePath(std::string_view name) {
  if (name.find('/') != std::string_view::npos) return std::string(name);
  return ProfileDirectory() + "/" + std::string(name);
}

std::pair<std::string, std::string> SplitDirBase(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::optional<std::string> ReadWholeFile(const std::string& path, bool* exists) {
  *exists = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::string();
    return std::nullopt;
  }
  *exists = true;
  std::string data;
  char buf[8192];
  for (;;) {
    const auto n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

bool MakeDirectories(const std::string& dir) {
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    const std::string prefix = dir.substr(0, pos);
    if (prefix.empty()) continue;
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const auto n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces `path` with `data` so that a reader (or a crash) sees the old
// file or the new one, never a mixture.
bool ReplaceFile(const std::string& path, const std::string& data, mode_t mode) {
  const auto [dir, base] = SplitDirBase(path);
  std::string tmpl = dir + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmpl.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(tmpl.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

// Holds an exclusive lock on ".<name>.lock" beside the profile for the life
// of the object; the profile itself is replaced by rename, so it cannot
// carry the lock.
class SidecarLock {
 public:
  explicit SidecarLock(const std::string& path) {
    const auto [dir, base] = SplitDirBase(path);
    const std::string lockPath = dir + "/." + base + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~SidecarLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  SidecarLock(const SidecarLock&) = delete;
  SidecarLock& operator=(const SidecarLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool IsComment(std::string_view text) {
  const auto t = Trim(text);
  return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// Where the key's line is, or where a new key line goes.
struct Placement {
  bool sectionFound = false;
  std::size_t keyLine = SIZE_MAX;      // index of the key's line when present
  std::size_t insertAfter = SIZE_MAX;  // last key line of the section, or its header
};

Placement Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Placement p;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionName(lines[i].text)) {
      if (inSection) break;  // only the first matching section counts
      if (EqualNoCase(*name, section)) {
        inSection = true;
        p.sectionFound = true;
        p.insertAfter = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (const auto kl = ParseKeyLine(lines[i].text); kl && !IsComment(lines[i].text)) {
      if (p.keyLine == SIZE_MAX && EqualNoCase(kl->key, key)) p.keyLine = i;
      p.insertAfter = i;
    }
  }
  return p;
}

}  // namespace

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  const auto fallback = static_cast<UINT>(nDefault);
  if (lpAppName == nullptr || lpKeyName == nullptr || lpFileName == nullptr) return fallback;
  bool exists = false;
  const auto data = ReadWholeFile(ProfilePath(lpFileName), &exists);
  if (!data || !exists) return fallback;
  const std::string_view section = Trim(lpAppName);
  const std::string_view key = Trim(lpKeyName);
  const std::string_view text = *data;
  const auto lines = SplitLines(text.substr(ByteOrderMark(text).size()));
  const auto p = Locate(lines, section, key);
  if (p.keyLine == SIZE_MAX) return fallback;
  const auto value = Unquote(ParseKeyLine(lines[p.keyLine].text)->value);
  if (value.empty()) return fallback;
  return AtoiWrapped(value);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName) {
  const ProfileKeyValue pair{lpKeyName, lpString};
  return WritePrivateProfileKeys(lpAppName, &pair, 1, lpFileName);
}

BOOL WritePrivateProfileKeys(LPCSTR lpAppName, const ProfileKeyValue* pairs, std::size_t count,
                             LPCSTR lpFileName) {
  // Deleting keys and sections (null key or value) is not used by the driver;
  // a batch with such a pair writes nothing.
  if (lpAppName == nullptr || pairs == nullptr || lpFileName == nullptr || *lpFileName == '\0') {
    return FALSE;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (pairs[i].lpKeyName == nullptr || pairs[i].lpString == nullptr ||
        Trim(pairs[i].lpKeyName).empty()) {
      return FALSE;
    }
  }
  if (count == 0) return TRUE;
  const std::string_view section = Trim(lpAppName);

  const std::string path = ProfilePath(lpFileName);
  if (std::string_view(lpFileName).find('/') == std::string_view::npos &&
      !MakeDirectories(ProfileDirectory())) {
    return FALSE;
  }
  SidecarLock lock(path);
  if (!lock.Held()) return FALSE;

  bool exists = false;
  const auto data = ReadWholeFile(path, &exists);
  if (!data) return FALSE;
  const std::string_view bom = ByteOrderMark(*data);
  auto lines = SplitLines(std::string_view(*data).substr(bom.size()));

  // New lines follow the file's own convention.
  std::string eol = "\n";
  for (const auto& l : lines) {
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  }
  auto terminate = [&](std::size_t i) {
    if (lines[i].end.empty()) lines[i].end = eol;
  };

  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view key = Trim(pairs[i].lpKeyName);
    const std::string_view value = Trim(pairs[i].lpString);
    const auto p = Locate(lines, section, key);
    const std::string newKeyLine = std::string(key) + "=" + std::string(value);
    if (p.keyLine != SIZE_MAX) {
      Line& l = lines[p.keyLine];
      const auto kl = *ParseKeyLine(l.text);
      l.text = l.text.substr(0, kl.keyOffset) + std::string(kl.key) + "=" + std::string(value);
    } else if (p.sectionFound) {
      terminate(p.insertAfter);
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(p.insertAfter) + 1,
                   Line{newKeyLine, eol});
    } else {
      if (!lines.empty()) terminate(lines.size() - 1);
      lines.push_back(Line{"[" + std::string(section) + "]", eol});
      lines.push_back(Line{newKeyLine, eol});
    }
  }

  std::string out(bom);
  out.reserve(data->size() + 64 * count + section.size() + 8);
  for (const auto& l : lines) {
    out += l.text;
    out += l.end;
  }

  mode_t mode = 0644;
  if (struct stat st{}; exists && ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  return ReplaceFile(path, out, mode) ? TRUE : FALSE;
}
