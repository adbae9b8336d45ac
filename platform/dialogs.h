// The POSIX dialog manager, as hosts and tests see it: the module's dialog
// templates, the user interface that shows a running dialog, and the user's
// actions on its controls. The driver core only calls the Win32 dialog
// functions of platform/win32.h.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace vtr::platform {

enum class ControlKind { Label, Group, DropList, Radio, Check, Edit, Button };

// One control of a template, in dialog units.
struct ControlTemplate {
  ControlKind kind = ControlKind::Label;
  int id = -1;
  std::string text;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool groupStart = false;     // WS_GROUP: a radio group starts here
  bool defaultButton = false;  // DEFPUSHBUTTON
};

struct DialogTemplate {
  std::string name;  // upper case, as the resource compiler stores it
  std::string caption;
  int cx = 0, cy = 0;
  std::vector<ControlTemplate> controls;
};

// Parses the DIALOGEX templates of a resource script; `defines` supplies the
// #define lines of the headers it includes. Returns false with a message in
// `error` on anything it does not understand.
bool ParseDialogScript(std::string_view script, std::string_view defines,
                       std::vector<DialogTemplate>& out, std::string& error);
// The module's dialog templates, looked up by name without regard to case.
void AddModuleDialog(DialogTemplate dialog);
const DialogTemplate* FindModuleDialog(std::string_view name);

// A control of a running dialog: its template and its state.
struct DialogControl {
  ControlTemplate tpl;
  std::string text;                // edit text, or the button's text
  std::vector<std::string> items;  // drop-down list entries
  int selection = CB_ERR;          // drop-down list
  bool checked = false;            // radio button or check box
};

// Shows a running modal dialog and turns the user's input into the actions
// below until the dialog ends (EndDialog). Run is re-entered for a dialog
// opened from a dialog.
class DialogUi {
 public:
  virtual ~DialogUi() = default;
  virtual void Run(HWND dialog) = 0;
};
// Installs the interface DialogBoxParamA runs dialogs with; nullptr for none
// (DialogBoxParamA then fails with -1).
void SetDialogUi(DialogUi* ui);

// A DialogUi of a function: scripted tests drive dialogs with it.
class ScriptedDialogUi final : public DialogUi {
 public:
  explicit ScriptedDialogUi(std::function<void(HWND)> fn) : fn_(std::move(fn)) {}
  void Run(HWND dialog) override { fn_(dialog); }

 private:
  std::function<void(HWND)> fn_;
};

// What a running dialog holds.
const DialogTemplate& DialogTemplateOf(HWND dialog);
std::vector<DialogControl>& DialogControls(HWND dialog);
DialogControl* FindDialogControl(HWND dialog, int id);
bool DialogEnded(HWND dialog);

// The user's actions. Clicking a button sends its command; clicking a check
// box toggles it and a radio button checks it (clearing its group) before the
// command goes out. Choosing an entry and typing change the control only.
void ClickControl(HWND dialog, int id);
void ChooseEntry(HWND dialog, int id, int index);
void TypeText(HWND dialog, int id, std::string_view text);

// A window to own dialogs run from a terminal (DRV_CONFIGURE needs a parent).
HWND ConsoleWindow();

}  // namespace vtr::platform
