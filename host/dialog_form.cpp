// The terminal form. Template positions are in dialog units: a column is 4
// units across and a line 14 units down (the templates keep to that grid).
#include "host/dialog_form.h"

#include <curses.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "dialogs/dialog_ids.h"
#include "platform/serial_ports.h"

namespace vtr::host {
namespace {

using platform::ControlKind;
using platform::DialogControl;

constexpr int kUnitsPerColumn = 4;
constexpr int kUnitsPerLine = 14;
constexpr int kEscape = 27;

int Col(int units) { return units / kUnitsPerColumn; }
int Line(int units) { return units / kUnitsPerLine; }

// Where a port entry ("COM2", "COM2 (unavailable)") leads: the device path
// or network address COMn resolves to, or the virtual deck bound to it.
std::string Note(const DialogControl& c, const std::string& item) {
  if (c.tpl.id != IDC_COM_PORT) return {};
  const int n = platform::ParseComPortName(item.substr(0, item.find(' ')));
  if (n == 0) return {};
  const std::string path = platform::ResolvePortPath(n);
  return path.empty() ? "virtual deck" : path;
}

bool Focusable(const DialogControl& c) {
  return c.tpl.kind != ControlKind::Label && c.tpl.kind != ControlKind::Group;
}

// The radio group around control i: [first, last).
std::pair<std::size_t, std::size_t> RadioGroup(const std::vector<DialogControl>& cs,
                                               std::size_t i) {
  std::size_t b = i;
  while (b > 0 && !cs[b].tpl.groupStart && cs[b - 1].tpl.kind == ControlKind::Radio) --b;
  std::size_t e = i + 1;
  while (e < cs.size() && !cs[e].tpl.groupStart && cs[e].tpl.kind == ControlKind::Radio) ++e;
  return {b, e};
}

class Screen {
 public:
  explicit Screen(HWND dialog)
      : dialog_(dialog),
        tpl_(platform::DialogTemplateOf(dialog)),
        cs_(platform::DialogControls(dialog)) {
    for (std::size_t i = 0; i < cs_.size(); ++i) {
      if (Focusable(cs_[i])) {
        focus_ = i;
        break;
      }
    }
  }

  int Width() const { return Col(tpl_.cx) + 2; }
  int Height() const { return Line(tpl_.cy) + 2; }
  bool Fits() const { return COLS >= Width() && LINES >= Height() + 1; }

  void Draw() {
    erase();
    if (!Fits()) {
      mvprintw(0, 0, "The terminal is too small for \"%s\": it needs %d x %d, it has %d x %d.",
               tpl_.caption.c_str(), Width(), Height() + 1, COLS, LINES);
      mvprintw(2, 0, "Enlarge the window, or press Escape to cancel.");
      refresh();
      return;
    }
    top_ = (LINES - 1 - Height()) / 2;
    left_ = (COLS - Width()) / 2;
    Box(top_, left_, Height(), Width(), tpl_.caption, true);
    for (std::size_t i = 0; i < cs_.size(); ++i) DrawControl(i);
    mvprintw(LINES - 1, 0, "%s",
             std::string("Tab/arrows: move  Space: check, choose, open list  Enter: OK  "
                         "Esc: Cancel")
                 .substr(0, static_cast<std::size_t>(COLS))
                 .c_str());
    PlaceCursor();
    refresh();
  }

  // One key; false once the dialog has ended.
  void Key(int ch) {
    if (!Fits()) {
      if (ch == kEscape) platform::ClickControl(dialog_, IDCANCEL);
      return;
    }
    DialogControl& c = cs_[focus_];
    switch (ch) {
      case kEscape:
        platform::ClickControl(dialog_, IDCANCEL);
        return;
      case '\t':
        MoveTab(+1);
        return;
      case KEY_BTAB:
        MoveTab(-1);
        return;
      case '\n':
      case '\r':
      case KEY_ENTER:
        platform::ClickControl(dialog_, c.tpl.kind == ControlKind::Button ? c.tpl.id : IDOK);
        return;
      default:
        break;
    }
    switch (c.tpl.kind) {
      case ControlKind::DropList:
        if (ch == KEY_UP || ch == KEY_DOWN) {
          platform::ChooseEntry(dialog_, c.tpl.id,
                                std::max(0, c.selection + (ch == KEY_UP ? -1 : 1)));
        } else if (ch == ' ' || ch == KEY_F(4)) {
          DropDown(c);
        } else {
          Arrows(ch);
        }
        return;
      case ControlKind::Radio:
        if (ch == KEY_UP || ch == KEY_DOWN || ch == KEY_LEFT || ch == KEY_RIGHT) {
          const auto [b, e] = RadioGroup(cs_, focus_);
          const bool back = ch == KEY_UP || ch == KEY_LEFT;
          if (back ? focus_ > b : focus_ + 1 < e) {
            focus_ = back ? focus_ - 1 : focus_ + 1;
            platform::ClickControl(dialog_, cs_[focus_].tpl.id);
          }
        } else if (ch == ' ') {
          platform::ClickControl(dialog_, c.tpl.id);
        }
        return;
      case ControlKind::Edit:
        Edit(c, ch);
        return;
      default:  // check box, button
        if (ch == ' ') {
          platform::ClickControl(dialog_, c.tpl.id);
        } else {
          Arrows(ch);
        }
        return;
    }
  }

 private:
  void Box(int y, int x, int h, int w, const std::string& title, bool strong) {
    if (strong) attron(A_BOLD);
    // Plain characters: they look the same in every terminal, over SSH and in a capture.
    mvhline(y, x + 1, '-', w - 2);
    mvhline(y + h - 1, x + 1, '-', w - 2);
    mvvline(y + 1, x, '|', h - 2);
    mvvline(y + 1, x + w - 1, '|', h - 2);
    for (const auto& [cy, cx] :
         {std::pair{y, x}, {y, x + w - 1}, {y + h - 1, x}, {y + h - 1, x + w - 1}}) {
      mvaddch(cy, cx, '+');
    }
    if (!title.empty())
      mvprintw(y, x + 2, " %s ",
               title.substr(0, static_cast<std::size_t>(std::max(0, w - 6))).c_str());
    if (strong) attroff(A_BOLD);
  }

  int Y(const DialogControl& c) const { return top_ + 1 + Line(c.tpl.y); }
  int X(const DialogControl& c) const { return left_ + 1 + Col(c.tpl.x); }
  int W(const DialogControl& c) const { return std::max(1, Col(c.tpl.cx)); }

  void Put(int y, int x, int w, const std::string& text) {
    std::string t = text.substr(0, static_cast<std::size_t>(std::max(0, w)));
    mvprintw(y, x, "%s", t.c_str());
  }

  void DrawControl(std::size_t i) {
    const DialogControl& c = cs_[i];
    const bool focused = i == focus_;
    const int y = Y(c), x = X(c), w = W(c);
    if (c.tpl.kind == ControlKind::Group) {
      Box(y, x, Line(c.tpl.y + c.tpl.cy) - Line(c.tpl.y) + 1, w, c.text, false);
      return;
    }
    if (focused) attron(A_REVERSE);
    switch (c.tpl.kind) {
      case ControlKind::Label:
        Put(y, x, w, c.text);
        break;
      case ControlKind::DropList: {
        const std::string sel =
            c.selection >= 0 ? c.items[static_cast<std::size_t>(c.selection)] : std::string();
        std::string field = sel.substr(0, static_cast<std::size_t>(std::max(0, w - 4)));
        field.resize(static_cast<std::size_t>(std::max(0, w - 4)), ' ');
        Put(y, x, w, "[" + field + " v]");
        if (const std::string note = Note(c, sel); !note.empty()) {
          if (focused) attroff(A_REVERSE);
          const int at = x + w + 2;
          Put(y, at, left_ + Width() - 1 - at, note);
          if (focused) attron(A_REVERSE);
        }
        break;
      }
      case ControlKind::Radio:
        Put(y, x, w, std::string(c.checked ? "(*) " : "( ) ") + c.text);
        break;
      case ControlKind::Check:
        Put(y, x, w, std::string(c.checked ? "[x] " : "[ ] ") + c.text);
        break;
      case ControlKind::Edit: {
        std::string field = c.text.substr(0, static_cast<std::size_t>(std::max(0, w - 2)));
        field.resize(static_cast<std::size_t>(std::max(0, w - 2)), focused ? '_' : ' ');
        Put(y, x, w, "[" + field + "]");
        break;
      }
      case ControlKind::Button: {
        const std::string label = c.tpl.defaultButton ? "<" + c.text + ">" : " " + c.text + " ";
        const int pad = std::max(0, (w - static_cast<int>(label.size())) / 2);
        Put(y, x + pad, w - pad, label);
        break;
      }
      case ControlKind::Group:
        break;
    }
    if (focused) attroff(A_REVERSE);
  }

  void PlaceCursor() {
    const DialogControl& c = cs_[focus_];
    if (c.tpl.kind == ControlKind::Edit) {
      curs_set(1);
      move(Y(c), X(c) + 1 + std::min(static_cast<int>(c.text.size()), W(c) - 3));
    } else {
      curs_set(0);
    }
  }

  // Tab moves between tab stops; a radio group is one stop, entered at its
  // checked button.
  void MoveTab(int dir) {
    const std::size_t n = cs_.size();
    std::size_t i = focus_;
    if (cs_[i].tpl.kind == ControlKind::Radio) {
      const auto [b, e] = RadioGroup(cs_, i);
      i = dir > 0 ? e - 1 : b;
    }
    for (std::size_t step = 0; step < n; ++step) {
      i = (i + n + static_cast<std::size_t>(dir > 0 ? 1 : n - 1)) % n;
      if (!Focusable(cs_[i])) continue;
      if (cs_[i].tpl.kind == ControlKind::Radio) {
        const auto [b, e] = RadioGroup(cs_, i);
        i = b;
        for (std::size_t k = b; k < e; ++k) {
          if (cs_[k].checked) i = k;
        }
      }
      focus_ = i;
      return;
    }
  }

  // Up and Down off a list, check box or button move like Shift-Tab and Tab.
  void Arrows(int ch) {
    if (ch == KEY_DOWN || ch == KEY_RIGHT) MoveTab(+1);
    if (ch == KEY_UP || ch == KEY_LEFT) MoveTab(-1);
  }

  void Edit(DialogControl& c, int ch) {
    std::string text = c.text;
    if (ch == KEY_BACKSPACE || ch == 127 || ch == 8) {
      if (!text.empty()) text.pop_back();
    } else if (ch == KEY_DC || ch == 21) {  // Delete, Ctrl-U: clear
      text.clear();
    } else if (ch >= 32 && ch < 127 && text.size() < 31) {
      text += static_cast<char>(ch);
    } else {
      Arrows(ch);
      return;
    }
    platform::TypeText(dialog_, c.tpl.id, text);
  }

  // The open list: arrows and paging move, Enter takes, Escape leaves.
  void DropDown(DialogControl& c) {
    if (c.items.empty()) return;
    const int count = static_cast<int>(c.items.size());
    const int rows = std::min(count, std::max(3, LINES - Y(c) - 3));
    int y0 = Y(c) + 1;
    if (y0 + rows + 2 > LINES - 1) y0 = std::max(0, LINES - 1 - rows - 2);
    // Entries with a note ("COM2  /dev/ttyUSB0") widen the list up to the screen's edge.
    std::vector<std::string> texts;
    int w = W(c);
    for (const auto& item : c.items) {
      const std::string note = Note(c, item);
      texts.push_back(note.empty() ? item : item + "  " + note);
      w = std::max(w, static_cast<int>(texts.back().size()) + 2);
    }
    w = std::min(w, std::max(W(c), COLS - X(c)));
    int sel = std::max(0, c.selection);
    for (;;) {
      const int first = std::clamp(sel - rows / 2, 0, std::max(0, count - rows));
      Box(y0, X(c), rows + 2, w, "", true);
      for (int r = 0; r < rows; ++r) {
        const int item = first + r;
        std::string text = item < count ? texts[static_cast<std::size_t>(item)] : "";
        text.resize(static_cast<std::size_t>(std::max(0, w - 2)), ' ');
        if (item == sel) attron(A_REVERSE);
        Put(y0 + 1 + r, X(c) + 1, w - 2, text);
        if (item == sel) attroff(A_REVERSE);
      }
      refresh();
      const int ch = getch();
      if (ch == KEY_UP) sel = std::max(0, sel - 1);
      if (ch == KEY_DOWN) sel = std::min(count - 1, sel + 1);
      if (ch == KEY_PPAGE) sel = std::max(0, sel - rows);
      if (ch == KEY_NPAGE) sel = std::min(count - 1, sel + rows);
      if (ch == KEY_HOME) sel = 0;
      if (ch == KEY_END) sel = count - 1;
      if (ch == '\n' || ch == '\r' || ch == KEY_ENTER || ch == ' ') {
        platform::ChooseEntry(dialog_, c.tpl.id, sel);
        return;
      }
      if (ch == kEscape || ch == ERR) return;
    }
  }

  HWND dialog_;
  const platform::DialogTemplate& tpl_;
  std::vector<DialogControl>& cs_;
  std::size_t focus_ = 0;
  int top_ = 0;
  int left_ = 0;
};

}  // namespace

void TerminalForm::Run(HWND dialog) {
  if (depth_ == 0) {
    set_escdelay(25);
    // newterm, unlike initscr, answers failure instead of ending the process;
    // the dialog then ends without a result.
    SCREEN* screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr) {
      failed_ = true;
      return;
    }
    set_term(screen);
    screen_ = screen;
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
  }
  ++depth_;
  Screen screen(dialog);
  int errors = 0;
  while (!platform::DialogEnded(dialog)) {
    screen.Draw();
    const int ch = getch();
    if (ch == ERR) {
      // Input gone (terminal closed): leave as Cancel would.
      if (++errors > 3) platform::ClickControl(dialog, IDCANCEL);
      continue;
    }
    errors = 0;
    if (ch == KEY_RESIZE) continue;
    screen.Key(ch);
  }
  if (--depth_ == 0) {
    endwin();
    delscreen(static_cast<SCREEN*>(screen_));
    screen_ = nullptr;
  }
}

}  // namespace vtr::host
