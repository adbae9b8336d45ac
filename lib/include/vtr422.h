/* libvtr422: MCI "vcr" devices (decks on a 9-pin RS-422 line) for programs.
 *
 * The library is the multimedia library's string and message interface with
 * the vtr422 driver behind it:
 *
 *   vtr_library *lib = vtr_open_library();
 *   vtr_attach_virtual_deck(lib, "COM2", NULL, NULL);   (no hardware needed)
 *   vtr_send_string(lib, "open vcr alias tape", NULL, 0, NULL, NULL);
 *   vtr_send_string(lib, "play tape from 1000 to 2000 notify", NULL, 0, on_done, ctx);
 *   vtr_send_string(lib, "status tape position", buf, sizeof buf, NULL, NULL);
 *   vtr_close_library(lib);
 *
 * Every call answers an MCI error code: 0 for success, 256 and up for errors
 * (vtr_error_text gives the text, vtr_last_detail why a port failed). A
 * command that waits ("wait") and does not end as asked answers one of the
 * library's own codes above the MCI range instead: VTR_ERR_INTERRUPTED when
 * vtr_break ended it, VTR_ERR_SUPERSEDED when a later command for the device
 * replaced it. All calls are thread-safe; commands for one device from several
 * threads run one at a time.
 *
 * Devices "vcr" and "vcr1".."vcr99" are installed with the parameters
 * "videotape" .. "videotape99"; their settings live in VTR.INI in
 * $VTR422_PROFILE_DIR (else $XDG_CONFIG_HOME/vtr422, else ~/.config/vtr422).
 * COMn leads to a port bound with vtr_bind_port or vtr_attach_virtual_deck,
 * else $VTR422_COMn, else /dev/ttyS(n-1).
 */
#ifndef VTR422_H
#define VTR422_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define VTR_API __attribute__((visibility("default")))
#else
#define VTR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Notification codes passed to a vtr_notify_fn. */
#define VTR_NOTIFY_SUCCESSFUL 1u
#define VTR_NOTIFY_SUPERSEDED 2u
#define VTR_NOTIFY_ABORTED 4u
#define VTR_NOTIFY_FAILURE 8u

/* Flags of vtr_send_command common to every message. */
#define VTR_MCI_NOTIFY 0x00000001u
#define VTR_MCI_WAIT 0x00000002u

/* A few MCI error codes a program tests for; vtr_error_text knows them all. */
#define VTR_ERR_HARDWARE 262u
#define VTR_ERR_INVALID_DEVICE_NAME 263u
#define VTR_ERR_PARAM_OVERFLOW 268u
#define VTR_ERR_OUTOFRANGE 282u
#define VTR_ERR_BAD_CONSTANT 290u
#define VTR_ERR_NULL_PARAMETER_BLOCK 297u

/* The library's own answers for a command that waited ("wait", or
 * VTR_MCI_WAIT) and did not end as asked; above 0xFFFF, so never an MCI code.
 * The deck is wherever the command left it; ask "status ALIAS position". */
#define VTR_ERR_INTERRUPTED 0x10001u /* vtr_break ended the wait; the deck stops */
#define VTR_ERR_SUPERSEDED 0x10002u  /* a later command for the device replaced it */

typedef struct vtr_library vtr_library;

/* Called once per command sent with "notify": `code` is one of
 * VTR_NOTIFY_*, `device_id` the device the command addressed. Callbacks run
 * one at a time, in the order the notifications were posted, on a thread of
 * the library (never inside the vtr_send_string that asked for them), so a
 * callback may send further commands; it must not close the library. */
typedef void (*vtr_notify_fn)(vtr_library* lib, unsigned device_id, unsigned code, void* user);

/* "0.1.0". */
VTR_API const char* vtr_version(void);

/* The library of this process; NULL while another one is open (the driver
 * exists once per process) or when memory runs out. */
VTR_API vtr_library* vtr_open_library(void);
/* Closes every open device, delivers the notifications still queued, unbinds
 * the ports it bound and frees `lib`. NULL is ignored. */
VTR_API void vtr_close_library(vtr_library* lib);

/* mciSendString. The return string goes to `ret` (`ret_len` bytes with the
 * terminating zero; `ret` may be NULL to ignore it); a return that does not
 * fit is cut and answers VTR_ERR_PARAM_OVERFLOW. `notify_fn` (may be NULL) is
 * called when a command that asks for a notification ends: one whose flags
 * hold VTR_MCI_NOTIFY as vtr_command_flags parses them (a quoted "notify" is
 * text, not the flag). */
VTR_API unsigned vtr_send_string(vtr_library* lib, const char* command, char* ret, size_t ret_len,
                                 vtr_notify_fn notify_fn, void* user);

/* mciSendCommand: `msg` (0x0800..0x0FFF) with `flags` to an open device, the
 * parameter block given as `n` values, one per slot in the order of the
 * device's command table: callback, the return slot (a text return: address
 * of a UTF-16 buffer and its size in 16-bit units), then the items. Callback and
 * address slots are pointer-sized, the others 32 bits. With VTR_MCI_NOTIFY
 * in `flags` and a `notify_fn`, the callback slot is filled in for it. The
 * block as the driver left it comes back in `words`. */
VTR_API unsigned vtr_send_command(vtr_library* lib, unsigned device_id, unsigned msg,
                                  uint32_t flags, uintptr_t* words, size_t n,
                                  vtr_notify_fn notify_fn, void* user);

/* The flags word `command` parses to (VTR_MCI_NOTIFY, VTR_MCI_WAIT and the
 * command's own), with the parser and command table vtr_send_string uses,
 * without sending it. Answers 0, or the error vtr_send_string would answer
 * for a string that does not parse (`*flags` is then 0). */
VTR_API unsigned vtr_command_flags(vtr_library* lib, const char* command, uint32_t* flags);

/* The MCI device ID of an open alias; 0 when none is open under it. */
VTR_API unsigned vtr_device_id(vtr_library* lib, const char* alias);

/* Ends the waiting command of a device (its yields answer "break"; the command
 * answers VTR_ERR_INTERRUPTED) and sends the device "break", which stops the
 * machine. Answers the break's result. */
VTR_API unsigned vtr_break(vtr_library* lib, unsigned device_id);

/* The library's text for an MCI error code or one of its own (VTR_ERR_*): at
 * most `len` bytes with the terminating zero go to `buf`. Answers the full
 * text's length. */
VTR_API size_t vtr_error_text(unsigned code, char* buf, size_t len);

/* Why the port failed in this thread's latest vtr_send_string or
 * vtr_send_command ("COM9 -> /dev/ttyUSB9: no such device"): at most `len`
 * bytes with the terminating zero go to `buf`; empty when that call succeeded
 * or failed for another reason. Each thread has its own (a call on another
 * thread never changes it), kept until its next send. Answers the full text's
 * length. */
VTR_API size_t vtr_last_detail(char* buf, size_t len);

/* Binds a port ("COM1".."COM98") to a device path (a tty, a USB adapter). */
VTR_API unsigned vtr_bind_port(vtr_library* lib, const char* port, const char* path);

/* Binds a port to a virtual deck inside this process. `model`: a model row
 * ("19", the default when NULL), a model name ("BVW-75") or a device type
 * code ("0x2025"); `standard`: "ntsc" (default), "drop" or "pal" (the device's
 * VTR.INI section then needs Pal=1). Answers VTR_ERR_BAD_CONSTANT for an
 * unknown model or standard, VTR_ERR_OUTOFRANGE for a bad port name. */
VTR_API unsigned vtr_attach_virtual_deck(vtr_library* lib, const char* port, const char* model,
                                         const char* standard);
/* Unbinds a virtual deck; close the devices that use it first. */
VTR_API unsigned vtr_detach_virtual_deck(vtr_library* lib, const char* port);

#ifdef __cplusplus
}
#endif

#endif /* VTR422_H */
