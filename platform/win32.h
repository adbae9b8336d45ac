// The Win32 subset the driver core calls, and nothing more.
//
// On Windows this is the real API. Elsewhere the same names are provided by
// platform/posix: types, constants and functions with Win32 semantics, so the
// driver core compiles unchanged on both.
#pragma once

#if defined(_WIN32)
#include "platform/windows/win32_windows.h"
#else
#include <pthread.h>
#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using BOOL = int;
using CHAR = char;
using WCHAR = char16_t;
using SIZE_T = std::size_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HANDLE = void*;
using HWND = struct HWND__*;
using HINSTANCE = struct HINSTANCE__*;
using HMODULE = HINSTANCE;
using HGLOBAL = void*;
using HDRVR = struct HDRVR__*;
using MCIDEVICEID = UINT;
using MCIERROR = DWORD;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define MAXDWORD 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

// Wide string literal of the platform's WCHAR type.
#define VTR_WTEXT(s) u##s

// ---- memory -------------------------------------------------------------
#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);

// ---- locks ----------------------------------------------------------------
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;  // recursive, as a Win32 critical section
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// ---- time -----------------------------------------------------------------
DWORD GetTickCount();
void Sleep(DWORD dwMilliseconds);

#define WM_TIMER 0x0113u
using TIMERPROC = void(CALLBACK*)(HWND, UINT, UINT_PTR, DWORD);
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// ---- files and serial ports -------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u
#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u
#define CE_IOE 0x0400u
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};
using LPCOMSTAT = COMSTAT*;

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
using LPDCB = DCB*;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CloseHandle(HANDLE hObject);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags);
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat);
BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue);
BOOL GetCommState(HANDLE hFile, LPDCB lpDCB);
BOOL BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB);
BOOL SetCommState(HANDLE hFile, LPDCB lpDCB);

// ---- private profile files --------------------------------------------------
UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);

// ---- dialog boxes ------------------------------------------------------------
// Modal dialogs from the module's templates and the control calls the
// configuration dialogs make. On POSIX the dialog manager of platform/posix
// keeps the controls; a user interface (platform/dialogs.h) shows them.
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define BM_GETCHECK 0x00F0u
#define BM_SETCHECK 0x00F1u
#define BST_UNCHECKED 0x0000u
#define BST_CHECKED 0x0001u
#define CB_GETCOUNT 0x0146u
#define CB_GETCURSEL 0x0147u
#define CB_ADDSTRING 0x0143u
#define CB_RESETCONTENT 0x014Bu
#define CB_SETCURSEL 0x014Eu
#define CB_ERR (-1)
#define IDOK 1
#define IDCANCEL 2
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xFFFF))
using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                        DLGPROC lpDialogFunc, LPARAM dwInitParam);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton);
BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck);
UINT IsDlgButtonChecked(HWND hDlg, int nIDButton);
BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);

// ---- installable drivers and MCI ---------------------------------------------
#define DRV_LOAD 0x0001u
#define DRV_ENABLE 0x0002u
#define DRV_OPEN 0x0003u
#define DRV_CLOSE 0x0004u
#define DRV_DISABLE 0x0005u
#define DRV_FREE 0x0006u
#define DRV_CONFIGURE 0x0007u
#define DRV_QUERYCONFIGURE 0x0008u
#define DRV_INSTALL 0x0009u

struct MCI_OPEN_DRIVER_PARMS {
  MCIDEVICEID wDeviceID;
  LPCWSTR lpstrParams;
  UINT wCustomCommandTable;
  UINT wType;
};
using LPMCI_OPEN_DRIVER_PARMS = MCI_OPEN_DRIVER_PARMS*;

struct DRVCONFIGINFO {
  DWORD dwDCISize;
  LPCWSTR lpszDCISectionName;
  LPCWSTR lpszDCIAliasName;
};

#define MCI_NO_COMMAND_TABLE 0xFFFFu
#define MCI_DEVTYPE_VCR 513u

#define MCI_NOTIFY 0x00000001u
#define MCI_WAIT 0x00000002u
#define MCI_FROM 0x00000004u
#define MCI_TO 0x00000008u
#define MCI_TRACK 0x00000010u
#define MCI_TEST 0x00000020u
#define MCI_OPEN_SHAREABLE 0x00000100u
#define MCI_OPEN_ELEMENT 0x00000200u
#define MCI_OPEN_ALIAS 0x00000400u
#define MCI_OPEN_TYPE 0x00002000u
#define MCI_OPEN_TYPE_ID 0x00001000u
#define MCI_STATUS_ITEM 0x00000100u
#define MCI_GETDEVCAPS_ITEM 0x00000100u
#define MCI_INFO_PRODUCT 0x00000100u

#define MCI_NOTIFY_SUCCESSFUL 0x0001u
#define MCI_NOTIFY_SUPERSEDED 0x0002u
#define MCI_NOTIFY_ABORTED 0x0004u
#define MCI_NOTIFY_FAILURE 0x0008u
#define MM_MCINOTIFY 0x03B9u

#define MCI_RESOURCE_RETURNED 0x00010000u
#define MCI_COLONIZED3_RETURN 0x00020000u
#define MCI_COLONIZED4_RETURN 0x00040000u

#define MCI_OPEN_DRIVER 0x0801u
#define MCI_CLOSE_DRIVER 0x0802u
#define MCI_OPEN 0x0803u
#define MCI_CLOSE 0x0804u
#define MCI_ESCAPE 0x0805u
#define MCI_PLAY 0x0806u
#define MCI_SEEK 0x0807u
#define MCI_STOP 0x0808u
#define MCI_PAUSE 0x0809u
#define MCI_INFO 0x080Au
#define MCI_GETDEVCAPS 0x080Bu
#define MCI_SPIN 0x080Cu
#define MCI_SET 0x080Du
#define MCI_STEP 0x080Eu
#define MCI_RECORD 0x080Fu
#define MCI_SYSINFO 0x0810u
#define MCI_BREAK 0x0811u
#define MCI_SAVE 0x0813u
#define MCI_STATUS 0x0814u
#define MCI_CUE 0x0830u
#define MCI_REALIZE 0x0840u
#define MCI_WINDOW 0x0841u
#define MCI_PUT 0x0842u
#define MCI_WHERE 0x0843u
#define MCI_FREEZE 0x0844u
#define MCI_UNFREEZE 0x0845u
#define MCI_LOAD 0x0850u
#define MCI_CUT 0x0851u
#define MCI_COPY 0x0852u
#define MCI_PASTE 0x0853u
#define MCI_UPDATE 0x0854u
#define MCI_RESUME 0x0855u
#define MCI_DELETE 0x0856u
#define MCI_SETAUDIO 0x0873u
#define MCI_SETVIDEO 0x0876u
#define MCI_LIST 0x0878u
#define MCI_MARK 0x0C00u
#define MCI_INDEX 0x0C01u
#define MCI_SETTUNER 0x0C02u

#define MCI_MODE_NOT_READY 524u
#define MCI_MODE_STOP 525u
#define MCI_MODE_PLAY 526u
#define MCI_MODE_RECORD 527u
#define MCI_MODE_SEEK 528u
#define MCI_MODE_PAUSE 529u
#define MCI_MODE_OPEN 530u

#define MCIERR_BASE 256u
#define MCIERR_INVALID_DEVICE_ID 257u
#define MCIERR_UNRECOGNIZED_KEYWORD 259u
#define MCIERR_UNRECOGNIZED_COMMAND 261u
#define MCIERR_HARDWARE 262u
#define MCIERR_INVALID_DEVICE_NAME 263u
#define MCIERR_OUT_OF_MEMORY 264u
#define MCIERR_DEVICE_OPEN 265u
#define MCIERR_CANNOT_LOAD_DRIVER 266u
#define MCIERR_MISSING_COMMAND_STRING 267u
#define MCIERR_PARAM_OVERFLOW 268u
#define MCIERR_MISSING_STRING_ARGUMENT 269u
#define MCIERR_BAD_INTEGER 270u
#define MCIERR_PARSER_INTERNAL 271u
#define MCIERR_DRIVER_INTERNAL 272u
#define MCIERR_MISSING_PARAMETER 273u
#define MCIERR_UNSUPPORTED_FUNCTION 274u
#define MCIERR_FILE_NOT_FOUND 275u
#define MCIERR_DEVICE_NOT_READY 276u
#define MCIERR_INTERNAL 277u
#define MCIERR_DRIVER 278u
#define MCIERR_CANNOT_USE_ALL 279u
#define MCIERR_MULTIPLE 280u
#define MCIERR_EXTENSION_NOT_FOUND 281u
#define MCIERR_OUTOFRANGE 282u
#define MCIERR_FLAGS_NOT_COMPATIBLE 284u
#define MCIERR_FILE_NOT_SAVED 286u
#define MCIERR_DEVICE_TYPE_REQUIRED 287u
#define MCIERR_DEVICE_LOCKED 288u
#define MCIERR_DUPLICATE_ALIAS 289u
#define MCIERR_BAD_CONSTANT 290u
#define MCIERR_MUST_USE_SHAREABLE 291u
#define MCIERR_MISSING_DEVICE_NAME 292u
#define MCIERR_BAD_TIME_FORMAT 293u
#define MCIERR_NO_CLOSING_QUOTE 294u
#define MCIERR_DUPLICATE_FLAGS 295u
#define MCIERR_INVALID_FILE 296u
#define MCIERR_NULL_PARAMETER_BLOCK 297u
#define MCIERR_UNNAMED_RESOURCE 298u
#define MCIERR_NEW_REQUIRES_ALIAS 299u
#define MCIERR_NOTIFY_ON_AUTO_OPEN 300u
#define MCIERR_NO_ELEMENT_ALLOWED 301u
#define MCIERR_NONAPPLICABLE_FUNCTION 302u
#define MCIERR_ILLEGAL_FOR_AUTO_OPEN 303u
#define MCIERR_FILENAME_REQUIRED 304u
#define MCIERR_EXTRA_CHARACTERS 305u
#define MCIERR_DEVICE_NOT_INSTALLED 306u
#define MCIERR_GET_CD 307u
#define MCIERR_SET_CD 308u
#define MCIERR_SET_DRIVE 309u
#define MCIERR_DEVICE_LENGTH 310u
#define MCIERR_DEVICE_ORD_LENGTH 311u
#define MCIERR_NO_INTEGER 312u

BOOL mciDriverNotify(HANDLE hwndCallback, UINT wDeviceID, UINT uStatus);
UINT mciDriverYield(UINT wDeviceID);
UINT mciLoadCommandResource(HINSTANCE hInstance, LPCWSTR lpResName, UINT wType);
BOOL mciFreeCommandResource(UINT wTable);
BOOL mciSetDriverData(UINT wDeviceID, DWORD_PTR dwData);

#endif  // !_WIN32

// ---- several keys of one profile section at once (ours, not a Win32 call) ---
// Each pair is written as WritePrivateProfileStringA writes it, in order. On
// POSIX the file is read, changed and replaced once, so that a reader (or a
// crash) sees it before or after every pair, and a save costs one rename;
// Windows makes one profile call per pair. FALSE when any write failed.
struct ProfileKeyValue {
  LPCSTR lpKeyName;
  LPCSTR lpString;
};
#if defined(_WIN32)
inline BOOL WritePrivateProfileKeys(LPCSTR lpAppName, const ProfileKeyValue* pairs,
                                    std::size_t count, LPCSTR lpFileName) {
  BOOL ok = TRUE;
  for (std::size_t i = 0; i < count; ++i) {
    if (WritePrivateProfileStringA(lpAppName, pairs[i].lpKeyName, pairs[i].lpString, lpFileName) ==
        0) {
      ok = FALSE;
    }
  }
  return ok;
}
#else
BOOL WritePrivateProfileKeys(LPCSTR lpAppName, const ProfileKeyValue* pairs, std::size_t count,
                             LPCSTR lpFileName);
#endif
