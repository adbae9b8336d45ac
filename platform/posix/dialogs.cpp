// Dialog boxes on POSIX: the module's templates (read from the resource
// script), running modal dialogs with their controls, and the Win32 calls the
// dialog procedures make on them. What the user sees is the DialogUi's.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/dialogs.h"

namespace vtr::platform {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// ---- the resource script ---------------------------------------------------------

// Removes comments and preprocessor lines (keeping the line structure).
std::vector<std::string> ScriptLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string cur;
  bool inBlock = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (inBlock) {
      if (c == '*' && next == '/') {
        inBlock = false;
        ++i;
      }
      continue;
    }
    if (c == '"') {  // a string runs to its closing quote ("" is a quote inside)
      cur += c;
      for (++i; i < text.size(); ++i) {
        cur += text[i];
        if (text[i] == '"' && !(i + 1 < text.size() && text[i + 1] == '"')) break;
        if (text[i] == '"') cur += text[++i];
      }
      continue;
    }
    if (c == '/' && next == '*') {
      inBlock = true;
      ++i;
    } else if (c == '/' && next == '/') {
      while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
    } else if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  lines.push_back(cur);
  for (auto& l : lines) {
    const auto b = l.find_first_not_of(" \t");
    l = b == std::string::npos ? std::string() : l.substr(b);
    if (!l.empty() && l[0] == '#') l.clear();
  }
  return lines;
}

// Splits at commas outside strings; trims blanks.
std::vector<std::string> SplitArgs(std::string_view s) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : s) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  for (auto& a : out) {
    const auto b = a.find_first_not_of(" \t");
    const auto e = a.find_last_not_of(" \t");
    a = b == std::string::npos ? std::string() : a.substr(b, e - b + 1);
  }
  return out;
}

struct ScriptParser {
  std::map<std::string, int> defines{{"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDC_STATIC", -1}};
  std::string error;

  bool Number(const std::string& s, int& out) {
    if (auto it = defines.find(s); it != defines.end()) {
      out = it->second;
      return true;
    }
    const char* end = s.data() + s.size();
    auto r = std::from_chars(s.data(), end, out);
    if (r.ec == std::errc() && r.ptr == end) return true;
    error = "not a number: " + s;
    return false;
  }

  bool Text(const std::string& s, std::string& out) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') {
      error = "not a string: " + s;
      return false;
    }
    out.clear();
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
      out += s[i];
      if (s[i] == '"') ++i;  // "" inside a string
    }
    return true;
  }

  void Defines(std::string_view header) {
    for (const auto& raw : SplitLinesKeepingHash(header)) {
      char name[64] = {};
      int value = 0;
      if (std::sscanf(raw.c_str(), "#define %63s %d", name, &value) == 2) defines[name] = value;
    }
  }

  static std::vector<std::string> SplitLinesKeepingHash(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
      const auto nl = text.find('\n', start);
      lines.emplace_back(text.substr(start, nl == std::string_view::npos ? nl : nl - start));
      if (nl == std::string_view::npos) break;
      start = nl + 1;
    }
    return lines;
  }

  bool Control(const std::string& line, ControlTemplate& c) {
    const auto sp = line.find_first_of(" \t");
    const std::string word = line.substr(0, sp);
    auto args = SplitArgs(sp == std::string::npos ? "" : line.substr(sp));
    static const std::map<std::string, std::pair<ControlKind, bool>> kKinds = {
        {"LTEXT", {ControlKind::Label, true}},
        {"RTEXT", {ControlKind::Label, true}},
        {"CTEXT", {ControlKind::Label, true}},
        {"GROUPBOX", {ControlKind::Group, true}},
        {"PUSHBUTTON", {ControlKind::Button, true}},
        {"DEFPUSHBUTTON", {ControlKind::Button, true}},
        {"AUTORADIOBUTTON", {ControlKind::Radio, true}},
        {"AUTOCHECKBOX", {ControlKind::Check, true}},
        {"COMBOBOX", {ControlKind::DropList, false}},
        {"EDITTEXT", {ControlKind::Edit, false}},
    };
    auto kind = kKinds.find(word);
    if (kind == kKinds.end()) {
      error = "unknown control: " + word;
      return false;
    }
    c.kind = kind->second.first;
    c.defaultButton = word == "DEFPUSHBUTTON";
    std::size_t i = 0;
    if (kind->second.second && (args.empty() || !Text(args[i++], c.text))) return false;
    if (args.size() < i + 5) {
      error = "too few values: " + line;
      return false;
    }
    int* values[] = {&c.id, &c.x, &c.y, &c.cx, &c.cy};
    for (int* v : values) {
      if (!Number(args[i++], *v)) return false;
    }
    for (; i < args.size(); ++i) {  // styles: only the group start matters here
      if (args[i].find("WS_GROUP") != std::string::npos) c.groupStart = true;
    }
    return true;
  }

  bool Parse(std::string_view script, std::vector<DialogTemplate>& out) {
    const auto lines = ScriptLines(script);
    for (std::size_t n = 0; n < lines.size(); ++n) {
      const std::string& line = lines[n];
      if (line.empty() || line.rfind("LANGUAGE", 0) == 0) continue;
      char name[64] = {};
      char kind[16] = {};
      int x = 0, y = 0, cx = 0, cy = 0;
      if (std::sscanf(line.c_str(), "%63s %15s %d , %d , %d , %d", name, kind, &x, &y, &cx, &cy) !=
              6 ||
          (std::strcmp(kind, "DIALOGEX") != 0 && std::strcmp(kind, "DIALOG") != 0)) {
        error = "line " + std::to_string(n + 1) + ": expected a dialog: " + line;
        return false;
      }
      DialogTemplate d;
      d.name = Upper(name);
      d.cx = cx;
      d.cy = cy;
      for (++n; n < lines.size() && lines[n] != "BEGIN" && lines[n] != "{"; ++n) {
        if (lines[n].rfind("CAPTION", 0) == 0 && !Text(SplitArgs(lines[n].substr(7))[0], d.caption))
          return false;
      }
      for (++n; n < lines.size() && lines[n] != "END" && lines[n] != "}"; ++n) {
        if (lines[n].empty()) continue;
        ControlTemplate c;
        if (!Control(lines[n], c)) {
          error = "line " + std::to_string(n + 1) + ": " + error;
          return false;
        }
        d.controls.push_back(std::move(c));
      }
      if (n >= lines.size()) {
        error = d.name + ": no END";
        return false;
      }
      out.push_back(std::move(d));
    }
    return true;
  }
};

// ---- running dialogs ---------------------------------------------------------------

struct Dialog {
  const DialogTemplate* tpl = nullptr;
  std::vector<DialogControl> controls;
  DLGPROC proc = nullptr;
  bool ended = false;
  INT_PTR result = -1;
};

struct State {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<DialogTemplate>> templates;  // upper-case names
  std::set<Dialog*> live;
};
State& St() {
  static State s;
  return s;
}
std::atomic<DialogUi*> gUi{nullptr};

Dialog* Find(HWND h) {
  auto* d = reinterpret_cast<Dialog*>(h);
  std::lock_guard lock(St().mutex);
  return St().live.count(d) != 0 ? d : nullptr;
}

DialogControl* Item(HWND h, int id) {
  Dialog* d = Find(h);
  if (d == nullptr) return nullptr;
  for (auto& c : d->controls) {
    if (c.tpl.id == id) return &c;
  }
  return nullptr;
}

// The radio group of control `i`: from the last group start at or before it
// up to the next group start.
std::pair<std::size_t, std::size_t> GroupOf(const std::vector<DialogControl>& cs, std::size_t i) {
  std::size_t b = i;
  while (b > 0 && !cs[b].tpl.groupStart) --b;
  std::size_t e = i + 1;
  while (e < cs.size() && !cs[e].tpl.groupStart) ++e;
  return {b, e};
}

}  // namespace

bool ParseDialogScript(std::string_view script, std::string_view defines,
                       std::vector<DialogTemplate>& out, std::string& error) {
  ScriptParser p;
  p.Defines(defines);
  const bool ok = p.Parse(script, out);
  error = p.error;
  return ok;
}

void AddModuleDialog(DialogTemplate dialog) {
  std::lock_guard lock(St().mutex);
  const std::string key = Upper(dialog.name);
  St().templates[key] = std::make_unique<DialogTemplate>(std::move(dialog));
}

const DialogTemplate* FindModuleDialog(std::string_view name) {
  std::lock_guard lock(St().mutex);
  auto it = St().templates.find(Upper(name));
  return it == St().templates.end() ? nullptr : it->second.get();
}

void SetDialogUi(DialogUi* ui) { gUi.store(ui); }

const DialogTemplate& DialogTemplateOf(HWND dialog) {
  return *reinterpret_cast<Dialog*>(dialog)->tpl;
}
std::vector<DialogControl>& DialogControls(HWND dialog) {
  return reinterpret_cast<Dialog*>(dialog)->controls;
}
DialogControl* FindDialogControl(HWND dialog, int id) { return Item(dialog, id); }
bool DialogEnded(HWND dialog) {
  Dialog* d = Find(dialog);
  return d == nullptr || d->ended;
}

void ClickControl(HWND dialog, int id) {
  Dialog* d = Find(dialog);
  DialogControl* c = Item(dialog, id);
  if (d == nullptr || c == nullptr || d->ended) return;
  if (c->tpl.kind == ControlKind::Check) c->checked = !c->checked;
  if (c->tpl.kind == ControlKind::Radio) {
    const auto i = static_cast<std::size_t>(c - d->controls.data());
    const auto [b, e] = GroupOf(d->controls, i);
    for (std::size_t k = b; k < e; ++k) {
      if (d->controls[k].tpl.kind == ControlKind::Radio) d->controls[k].checked = k == i;
    }
  }
  if (c->tpl.kind == ControlKind::Button || c->tpl.kind == ControlKind::Check ||
      c->tpl.kind == ControlKind::Radio) {
    d->proc(dialog, WM_COMMAND, static_cast<WPARAM>(id & 0xFFFF), 0);  // BN_CLICKED is 0
  }
}

void ChooseEntry(HWND dialog, int id, int index) {
  DialogControl* c = Item(dialog, id);
  if (c != nullptr && index >= 0 && static_cast<std::size_t>(index) < c->items.size())
    c->selection = index;
}

void TypeText(HWND dialog, int id, std::string_view text) {
  if (DialogControl* c = Item(dialog, id)) c->text = std::string(text);
}

HWND ConsoleWindow() {
  static int console;
  return reinterpret_cast<HWND>(&console);
}

}  // namespace vtr::platform

using vtr::platform::ControlKind;
using vtr::platform::Dialog;

INT_PTR DialogBoxParamA(HINSTANCE /*hInstance*/, LPCSTR lpTemplateName, HWND /*hWndParent*/,
                        DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  vtr::platform::DialogUi* ui = vtr::platform::gUi.load();
  const vtr::platform::DialogTemplate* tpl =
      lpTemplateName != nullptr ? vtr::platform::FindModuleDialog(lpTemplateName) : nullptr;
  if (ui == nullptr || tpl == nullptr || lpDialogFunc == nullptr) return -1;
  Dialog d;
  d.tpl = tpl;
  d.proc = lpDialogFunc;
  for (const auto& c : tpl->controls) {
    vtr::platform::DialogControl dc;
    dc.tpl = c;
    if (c.kind != ControlKind::Edit) dc.text = c.text;
    d.controls.push_back(std::move(dc));
  }
  {
    std::lock_guard lock(vtr::platform::St().mutex);
    vtr::platform::St().live.insert(&d);
  }
  auto* h = reinterpret_cast<HWND>(&d);
  lpDialogFunc(h, WM_INITDIALOG, 0, dwInitParam);
  // An interface that returns without ending the dialog leaves the result -1.
  if (!d.ended) ui->Run(h);
  {
    std::lock_guard lock(vtr::platform::St().mutex);
    vtr::platform::St().live.erase(&d);
  }
  return d.ended ? d.result : -1;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
  Dialog* d = vtr::platform::Find(hDlg);
  if (d == nullptr) return FALSE;
  d->ended = true;
  d->result = nResult;
  return TRUE;
}

LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
  vtr::platform::DialogControl* c = vtr::platform::Item(hDlg, nIDDlgItem);
  if (c == nullptr) return 0;
  const auto count = static_cast<LRESULT>(c->items.size());
  switch (Msg) {
    case CB_ADDSTRING:
      c->items.emplace_back(reinterpret_cast<const char*>(lParam));
      return count;
    case CB_RESETCONTENT:
      c->items.clear();
      c->selection = CB_ERR;
      return 0;
    case CB_GETCOUNT:
      return count;
    case CB_GETCURSEL:
      return c->selection;
    case CB_SETCURSEL:
      c->selection = static_cast<LRESULT>(wParam) < count ? static_cast<int>(wParam) : CB_ERR;
      return c->selection;
    case BM_GETCHECK:
      return c->checked ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
      c->checked = wParam == BST_CHECKED;
      return 0;
    default:
      return 0;
  }
}

BOOL CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton) {
  Dialog* d = vtr::platform::Find(hDlg);
  if (d == nullptr) return FALSE;
  for (auto& c : d->controls) {
    if (c.tpl.id >= nIDFirstButton && c.tpl.id <= nIDLastButton)
      c.checked = c.tpl.id == nIDCheckButton;
  }
  return TRUE;
}

BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  vtr::platform::DialogControl* c = vtr::platform::Item(hDlg, nIDButton);
  if (c == nullptr) return FALSE;
  c->checked = uCheck == BST_CHECKED;
  return TRUE;
}

UINT IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  vtr::platform::DialogControl* c = vtr::platform::Item(hDlg, nIDButton);
  return c != nullptr && c->checked ? BST_CHECKED : BST_UNCHECKED;
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  vtr::platform::DialogControl* c = vtr::platform::Item(hDlg, nIDDlgItem);
  if (c == nullptr) return FALSE;
  c->text = lpString != nullptr ? lpString : "";
  return TRUE;
}

UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  if (lpString == nullptr || cchMax <= 0) return 0;
  vtr::platform::DialogControl* c = vtr::platform::Item(hDlg, nIDDlgItem);
  const std::string text = c != nullptr ? c->text : std::string();
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(cchMax - 1));
  std::memcpy(lpString, text.data(), n);
  lpString[n] = '\0';
  return static_cast<UINT>(n);
}
