# Writes the dialog resource script and its identifiers header into a C++
# header as text, for the POSIX dialog manager to read (cmake -P).
#   -DSCRIPT=dialogs.rc -DIDS=dialog_ids.h -DOUT=dialog_script.h
file(READ "${SCRIPT}" script)
file(READ "${IDS}" ids)
file(WRITE "${OUT}" "// Generated from dialogs/dialogs.rc and dialogs/dialog_ids.h: do not edit.
#pragma once
namespace vtr::resource {
inline constexpr char kDialogScript[] = R\"vtrrc(${script})vtrrc\";
inline constexpr char kDialogIds[] = R\"vtrrc(${ids})vtrrc\";
}  // namespace vtr::resource
")
