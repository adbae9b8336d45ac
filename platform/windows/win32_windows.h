// The real Win32 API for the driver core, from the mingw-w64 (or SDK)
// headers, plus the few multimedia-driver declarations those headers lack.
// Every name the POSIX half of platform/win32.h provides is available here
// with the same value, except where noted.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

// The same standard headers the POSIX half brings in.
#include <cstddef>
#include <cstdint>

// Each of these needs the ones before it.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>
#include <digitalv.h>
// clang-format on

// Wide string literal of the platform's WCHAR type (wchar_t here).
#define VTR_WTEXT(s) L##s

// mingw-w64 spells this ((UINT)-1); Wine's winmm returns 0xFFFF from
// mciLoadCommandResource and only its low 16 bits count anywhere, so the
// driver compares against the 16-bit value, as on POSIX.
#undef MCI_NO_COMMAND_TABLE
#define MCI_NO_COMMAND_TABLE 0xFFFFu

// The SDK spells many of these as signed long literals (MCI_WAIT is 0x2L), so
// ~MCI_WAIT would be a negative long where the core expects a DWORD mask.
// Each constant the POSIX half defines is redefined here with the POSIX
// spelling: the same value (checked against the SDK when this list was made)
// and the same type on both platforms.
#undef GMEM_FIXED
#define GMEM_FIXED 0x0000u
#undef GMEM_MOVEABLE
#define GMEM_MOVEABLE 0x0002u
#undef GMEM_ZEROINIT
#define GMEM_ZEROINIT 0x0040u
#undef WM_TIMER
#define WM_TIMER 0x0113u
#undef GENERIC_READ
#define GENERIC_READ 0x80000000u
#undef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000u
#undef OPEN_EXISTING
#define OPEN_EXISTING 3u
#undef FILE_FLAG_WRITE_THROUGH
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#undef PURGE_TXABORT
#define PURGE_TXABORT 0x0001u
#undef PURGE_RXABORT
#define PURGE_RXABORT 0x0002u
#undef PURGE_TXCLEAR
#define PURGE_TXCLEAR 0x0004u
#undef PURGE_RXCLEAR
#define PURGE_RXCLEAR 0x0008u
#undef CE_RXOVER
#define CE_RXOVER 0x0001u
#undef CE_OVERRUN
#define CE_OVERRUN 0x0002u
#undef CE_RXPARITY
#define CE_RXPARITY 0x0004u
#undef CE_FRAME
#define CE_FRAME 0x0008u
#undef CE_BREAK
#define CE_BREAK 0x0010u
#undef CE_IOE
#define CE_IOE 0x0400u
#undef NOPARITY
#define NOPARITY 0
#undef ODDPARITY
#define ODDPARITY 1
#undef EVENPARITY
#define EVENPARITY 2
#undef MARKPARITY
#define MARKPARITY 3
#undef SPACEPARITY
#define SPACEPARITY 4
#undef ONESTOPBIT
#define ONESTOPBIT 0
#undef ONE5STOPBITS
#define ONE5STOPBITS 1
#undef TWOSTOPBITS
#define TWOSTOPBITS 2
#undef DTR_CONTROL_DISABLE
#define DTR_CONTROL_DISABLE 0
#undef DTR_CONTROL_ENABLE
#define DTR_CONTROL_ENABLE 1
#undef RTS_CONTROL_DISABLE
#define RTS_CONTROL_DISABLE 0
#undef RTS_CONTROL_ENABLE
#define RTS_CONTROL_ENABLE 1
#undef DRV_LOAD
#define DRV_LOAD 0x0001u
#undef DRV_ENABLE
#define DRV_ENABLE 0x0002u
#undef DRV_OPEN
#define DRV_OPEN 0x0003u
#undef DRV_CLOSE
#define DRV_CLOSE 0x0004u
#undef DRV_DISABLE
#define DRV_DISABLE 0x0005u
#undef DRV_FREE
#define DRV_FREE 0x0006u
#undef DRV_CONFIGURE
#define DRV_CONFIGURE 0x0007u
#undef DRV_QUERYCONFIGURE
#define DRV_QUERYCONFIGURE 0x0008u
#undef DRV_INSTALL
#define DRV_INSTALL 0x0009u
#undef MCI_DEVTYPE_VCR
#define MCI_DEVTYPE_VCR 513u
#undef MCI_NOTIFY
#define MCI_NOTIFY 0x00000001u
#undef MCI_WAIT
#define MCI_WAIT 0x00000002u
#undef MCI_FROM
#define MCI_FROM 0x00000004u
#undef MCI_TO
#define MCI_TO 0x00000008u
#undef MCI_TRACK
#define MCI_TRACK 0x00000010u
#undef MCI_TEST
#define MCI_TEST 0x00000020u
#undef MCI_OPEN_SHAREABLE
#define MCI_OPEN_SHAREABLE 0x00000100u
#undef MCI_OPEN_ELEMENT
#define MCI_OPEN_ELEMENT 0x00000200u
#undef MCI_OPEN_ALIAS
#define MCI_OPEN_ALIAS 0x00000400u
#undef MCI_OPEN_TYPE
#define MCI_OPEN_TYPE 0x00002000u
#undef MCI_OPEN_TYPE_ID
#define MCI_OPEN_TYPE_ID 0x00001000u
#undef MCI_STATUS_ITEM
#define MCI_STATUS_ITEM 0x00000100u
#undef MCI_GETDEVCAPS_ITEM
#define MCI_GETDEVCAPS_ITEM 0x00000100u
#undef MCI_INFO_PRODUCT
#define MCI_INFO_PRODUCT 0x00000100u
#undef MCI_NOTIFY_SUCCESSFUL
#define MCI_NOTIFY_SUCCESSFUL 0x0001u
#undef MCI_NOTIFY_SUPERSEDED
#define MCI_NOTIFY_SUPERSEDED 0x0002u
#undef MCI_NOTIFY_ABORTED
#define MCI_NOTIFY_ABORTED 0x0004u
#undef MCI_NOTIFY_FAILURE
#define MCI_NOTIFY_FAILURE 0x0008u
#undef MM_MCINOTIFY
#define MM_MCINOTIFY 0x03B9u
#undef MCI_RESOURCE_RETURNED
#define MCI_RESOURCE_RETURNED 0x00010000u
#undef MCI_COLONIZED3_RETURN
#define MCI_COLONIZED3_RETURN 0x00020000u
#undef MCI_COLONIZED4_RETURN
#define MCI_COLONIZED4_RETURN 0x00040000u
#undef MCI_OPEN_DRIVER
#define MCI_OPEN_DRIVER 0x0801u
#undef MCI_CLOSE_DRIVER
#define MCI_CLOSE_DRIVER 0x0802u
#undef MCI_OPEN
#define MCI_OPEN 0x0803u
#undef MCI_CLOSE
#define MCI_CLOSE 0x0804u
#undef MCI_ESCAPE
#define MCI_ESCAPE 0x0805u
#undef MCI_PLAY
#define MCI_PLAY 0x0806u
#undef MCI_SEEK
#define MCI_SEEK 0x0807u
#undef MCI_STOP
#define MCI_STOP 0x0808u
#undef MCI_PAUSE
#define MCI_PAUSE 0x0809u
#undef MCI_INFO
#define MCI_INFO 0x080Au
#undef MCI_GETDEVCAPS
#define MCI_GETDEVCAPS 0x080Bu
#undef MCI_SPIN
#define MCI_SPIN 0x080Cu
#undef MCI_SET
#define MCI_SET 0x080Du
#undef MCI_STEP
#define MCI_STEP 0x080Eu
#undef MCI_RECORD
#define MCI_RECORD 0x080Fu
#undef MCI_SYSINFO
#define MCI_SYSINFO 0x0810u
#undef MCI_BREAK
#define MCI_BREAK 0x0811u
#undef MCI_SAVE
#define MCI_SAVE 0x0813u
#undef MCI_STATUS
#define MCI_STATUS 0x0814u
#undef MCI_CUE
#define MCI_CUE 0x0830u
#undef MCI_REALIZE
#define MCI_REALIZE 0x0840u
#undef MCI_WINDOW
#define MCI_WINDOW 0x0841u
#undef MCI_PUT
#define MCI_PUT 0x0842u
#undef MCI_WHERE
#define MCI_WHERE 0x0843u
#undef MCI_FREEZE
#define MCI_FREEZE 0x0844u
#undef MCI_UNFREEZE
#define MCI_UNFREEZE 0x0845u
#undef MCI_LOAD
#define MCI_LOAD 0x0850u
#undef MCI_CUT
#define MCI_CUT 0x0851u
#undef MCI_COPY
#define MCI_COPY 0x0852u
#undef MCI_PASTE
#define MCI_PASTE 0x0853u
#undef MCI_UPDATE
#define MCI_UPDATE 0x0854u
#undef MCI_RESUME
#define MCI_RESUME 0x0855u
#undef MCI_DELETE
#define MCI_DELETE 0x0856u
#undef MCI_SETAUDIO
#define MCI_SETAUDIO 0x0873u
#undef MCI_SETVIDEO
#define MCI_SETVIDEO 0x0876u
#undef MCI_LIST
#define MCI_LIST 0x0878u
#undef MCI_MODE_NOT_READY
#define MCI_MODE_NOT_READY 524u
#undef MCI_MODE_STOP
#define MCI_MODE_STOP 525u
#undef MCI_MODE_PLAY
#define MCI_MODE_PLAY 526u
#undef MCI_MODE_RECORD
#define MCI_MODE_RECORD 527u
#undef MCI_MODE_SEEK
#define MCI_MODE_SEEK 528u
#undef MCI_MODE_PAUSE
#define MCI_MODE_PAUSE 529u
#undef MCI_MODE_OPEN
#define MCI_MODE_OPEN 530u
#undef MCIERR_BASE
#define MCIERR_BASE 256u
#undef MCIERR_INVALID_DEVICE_ID
#define MCIERR_INVALID_DEVICE_ID 257u
#undef MCIERR_UNRECOGNIZED_KEYWORD
#define MCIERR_UNRECOGNIZED_KEYWORD 259u
#undef MCIERR_UNRECOGNIZED_COMMAND
#define MCIERR_UNRECOGNIZED_COMMAND 261u
#undef MCIERR_HARDWARE
#define MCIERR_HARDWARE 262u
#undef MCIERR_INVALID_DEVICE_NAME
#define MCIERR_INVALID_DEVICE_NAME 263u
#undef MCIERR_OUT_OF_MEMORY
#define MCIERR_OUT_OF_MEMORY 264u
#undef MCIERR_DEVICE_OPEN
#define MCIERR_DEVICE_OPEN 265u
#undef MCIERR_CANNOT_LOAD_DRIVER
#define MCIERR_CANNOT_LOAD_DRIVER 266u
#undef MCIERR_MISSING_COMMAND_STRING
#define MCIERR_MISSING_COMMAND_STRING 267u
#undef MCIERR_PARAM_OVERFLOW
#define MCIERR_PARAM_OVERFLOW 268u
#undef MCIERR_MISSING_STRING_ARGUMENT
#define MCIERR_MISSING_STRING_ARGUMENT 269u
#undef MCIERR_BAD_INTEGER
#define MCIERR_BAD_INTEGER 270u
#undef MCIERR_PARSER_INTERNAL
#define MCIERR_PARSER_INTERNAL 271u
#undef MCIERR_DRIVER_INTERNAL
#define MCIERR_DRIVER_INTERNAL 272u
#undef MCIERR_MISSING_PARAMETER
#define MCIERR_MISSING_PARAMETER 273u
#undef MCIERR_UNSUPPORTED_FUNCTION
#define MCIERR_UNSUPPORTED_FUNCTION 274u
#undef MCIERR_FILE_NOT_FOUND
#define MCIERR_FILE_NOT_FOUND 275u
#undef MCIERR_DEVICE_NOT_READY
#define MCIERR_DEVICE_NOT_READY 276u
#undef MCIERR_INTERNAL
#define MCIERR_INTERNAL 277u
#undef MCIERR_DRIVER
#define MCIERR_DRIVER 278u
#undef MCIERR_CANNOT_USE_ALL
#define MCIERR_CANNOT_USE_ALL 279u
#undef MCIERR_MULTIPLE
#define MCIERR_MULTIPLE 280u
#undef MCIERR_EXTENSION_NOT_FOUND
#define MCIERR_EXTENSION_NOT_FOUND 281u
#undef MCIERR_OUTOFRANGE
#define MCIERR_OUTOFRANGE 282u
#undef MCIERR_FLAGS_NOT_COMPATIBLE
#define MCIERR_FLAGS_NOT_COMPATIBLE 284u
#undef MCIERR_FILE_NOT_SAVED
#define MCIERR_FILE_NOT_SAVED 286u
#undef MCIERR_DEVICE_TYPE_REQUIRED
#define MCIERR_DEVICE_TYPE_REQUIRED 287u
#undef MCIERR_DEVICE_LOCKED
#define MCIERR_DEVICE_LOCKED 288u
#undef MCIERR_DUPLICATE_ALIAS
#define MCIERR_DUPLICATE_ALIAS 289u
#undef MCIERR_BAD_CONSTANT
#define MCIERR_BAD_CONSTANT 290u
#undef MCIERR_MUST_USE_SHAREABLE
#define MCIERR_MUST_USE_SHAREABLE 291u
#undef MCIERR_MISSING_DEVICE_NAME
#define MCIERR_MISSING_DEVICE_NAME 292u
#undef MCIERR_BAD_TIME_FORMAT
#define MCIERR_BAD_TIME_FORMAT 293u
#undef MCIERR_NO_CLOSING_QUOTE
#define MCIERR_NO_CLOSING_QUOTE 294u
#undef MCIERR_DUPLICATE_FLAGS
#define MCIERR_DUPLICATE_FLAGS 295u
#undef MCIERR_INVALID_FILE
#define MCIERR_INVALID_FILE 296u
#undef MCIERR_NULL_PARAMETER_BLOCK
#define MCIERR_NULL_PARAMETER_BLOCK 297u
#undef MCIERR_UNNAMED_RESOURCE
#define MCIERR_UNNAMED_RESOURCE 298u
#undef MCIERR_NEW_REQUIRES_ALIAS
#define MCIERR_NEW_REQUIRES_ALIAS 299u
#undef MCIERR_NOTIFY_ON_AUTO_OPEN
#define MCIERR_NOTIFY_ON_AUTO_OPEN 300u
#undef MCIERR_NO_ELEMENT_ALLOWED
#define MCIERR_NO_ELEMENT_ALLOWED 301u
#undef MCIERR_NONAPPLICABLE_FUNCTION
#define MCIERR_NONAPPLICABLE_FUNCTION 302u
#undef MCIERR_ILLEGAL_FOR_AUTO_OPEN
#define MCIERR_ILLEGAL_FOR_AUTO_OPEN 303u
#undef MCIERR_FILENAME_REQUIRED
#define MCIERR_FILENAME_REQUIRED 304u
#undef MCIERR_EXTRA_CHARACTERS
#define MCIERR_EXTRA_CHARACTERS 305u
#undef MCIERR_DEVICE_NOT_INSTALLED
#define MCIERR_DEVICE_NOT_INSTALLED 306u
#undef MCIERR_GET_CD
#define MCIERR_GET_CD 307u
#undef MCIERR_SET_CD
#define MCIERR_SET_CD 308u
#undef MCIERR_SET_DRIVE
#define MCIERR_SET_DRIVE 309u
#undef MCIERR_DEVICE_LENGTH
#define MCIERR_DEVICE_LENGTH 310u
#undef MCIERR_DEVICE_ORD_LENGTH
#define MCIERR_DEVICE_ORD_LENGTH 311u
#undef MCIERR_NO_INTEGER
#define MCIERR_NO_INTEGER 312u

// The core declares the MCI time formats itself (as typed constants), so the
// SDK's macros of the same names are withdrawn.
#undef MCI_FORMAT_MILLISECONDS
#undef MCI_FORMAT_HMS
#undef MCI_FORMAT_MSF
#undef MCI_FORMAT_FRAMES
#undef MCI_FORMAT_SMPTE_24
#undef MCI_FORMAT_SMPTE_25
#undef MCI_FORMAT_SMPTE_30
#undef MCI_FORMAT_SMPTE_30DROP
#undef MCI_FORMAT_BYTES
#undef MCI_FORMAT_SAMPLES
#undef MCI_FORMAT_TMSF

// VCR command messages (vcr.h in the SDK; mingw-w64 has no such header).
#ifndef MCI_MARK
#define MCI_MARK 0x0C00u
#endif
#ifndef MCI_INDEX
#define MCI_INDEX 0x0C01u
#endif
#ifndef MCI_SETTUNER
#define MCI_SETTUNER 0x0C02u
#endif

// Exported by winmm (libwinmm.a has them) but not declared by mingw-w64's
// headers. x64 has a single calling convention, so the names link as is.
extern "C" {
BOOL WINAPI mciDriverNotify(HANDLE hwndCallback, UINT wDeviceID, UINT uStatus);
UINT WINAPI mciDriverYield(UINT wDeviceID);
UINT WINAPI mciLoadCommandResource(HINSTANCE hInstance, LPCWSTR lpResName, UINT wType);
BOOL WINAPI mciFreeCommandResource(UINT wTable);
BOOL WINAPI mciSetDriverData(UINT wDeviceID, DWORD_PTR dwData);
DWORD_PTR WINAPI mciGetDriverData(UINT wDeviceID);
}

// The multimedia headers are byte-packed (pshpack1), as winmm itself is
// compiled: on x64 the driver-open block carries lpstrParams at offset 4,
// not 8, and the configuration block is 20 bytes, not 12 or 24.
static_assert(sizeof(WCHAR) == 2, "UTF-16 WCHAR");
#if defined(_WIN64)
static_assert(offsetof(MCI_OPEN_DRIVER_PARMS, lpstrParams) == 4, "winmm driver-open layout");
static_assert(offsetof(MCI_OPEN_DRIVER_PARMS, wCustomCommandTable) == 12,
              "winmm driver-open layout");
static_assert(offsetof(MCI_OPEN_DRIVER_PARMS, wType) == 16, "winmm driver-open layout");
static_assert(sizeof(DRVCONFIGINFO) == 20, "winmm configuration block");
#endif
