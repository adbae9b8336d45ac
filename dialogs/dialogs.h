// The configuration dialogs: the main settings dialog and its two advanced
// dialogs, editing one device's "VTR.INI" section through VtrConfigInfo.
#pragma once

#include "record/device.h"

// The record the dialogs load, edit and save; never an open device's record.
extern DeviceRecord VtrConfigInfo;
// The port of each entry of the port list, in list order, the rest 0: the
// ports the last probe opened and the section's own port when it did not.
extern BYTE arbComs[9];

// Back to the state of a freshly loaded module (record zero, ports 1..8).
void ResetConfigDialogs();

// Runs "IDD_MAIN_SETTINGS" modally over the parent; lParam is the caller's
// DRVCONFIGINFO. Answers 0 whatever the outcome.
LRESULT ConfigDlgProc(HWND hwndParent, LPARAM lParam);
// The main dialog's procedure (exported).
INT_PTR CALLBACK MainConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AdvCapabilitiesConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AdvEditingConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
// Loads VtrConfigInfo from the dialog's section and sets the main dialog's controls from it; with
// fFillLists it also fills the model list and probes the ports.
void InitialUpdate(HWND hDlg, BOOL fFillLists);
