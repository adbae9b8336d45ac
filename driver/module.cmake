# The installable driver module mcivtr.drv (Windows builds): the core's rooms,
# the module's exports and its resources (the "VCR" command table, the string
# table and the dialog templates).

# Where the generated command table comes from. commands/resource sets the
# global properties VTR_VCR_TABLE_BIN (the binary "VCR" table) and, optionally,
# VTR_VCR_STRINGS_RC (a STRINGTABLE fragment for ids 1281..1315) and
# VTR_RESOURCE_GEN_TARGET (the target that generates them). The cache variables
# below stand in when building the module against hand-made files.
set(VTR_VCR_TABLE_BIN "" CACHE FILEPATH "Binary VCR command table (overrides the generated one)")
set(VTR_VCR_STRINGS_RC "" CACHE FILEPATH "STRINGTABLE fragment (overrides the generated one)")

function(vtr_windows_add_driver_module)
  set(table_bin "${VTR_VCR_TABLE_BIN}")
  set(strings_rc "${VTR_VCR_STRINGS_RC}")
  if(NOT table_bin)
    get_property(table_bin GLOBAL PROPERTY VTR_VCR_TABLE_BIN)
  endif()
  if(NOT strings_rc)
    get_property(strings_rc GLOBAL PROPERTY VTR_VCR_STRINGS_RC)
  endif()
  get_property(table_target GLOBAL PROPERTY VTR_RESOURCE_GEN_TARGET)
  if(NOT table_bin)
    message(WARNING "No VCR command table (global property VTR_VCR_TABLE_BIN unset): "
                    "mcivtr.drv is not built")
    return()
  endif()

  set(VTR_VCR_TABLE_BIN "${table_bin}")
  if(strings_rc)
    set(VTR_RC_STRINGS_INCLUDE "#include \"${strings_rc}\"")
  else()
    message(WARNING "No STRINGTABLE fragment (VTR_VCR_STRINGS_RC): the module has no "
                    "words for ids 1281..1315")
    set(VTR_RC_STRINGS_INCLUDE "")
  endif()
  set(rc_file "${CMAKE_BINARY_DIR}/driver/mcivtr.rc")
  configure_file("${CMAKE_SOURCE_DIR}/driver/mcivtr.rc.in" "${rc_file}" @ONLY)
  set_source_files_properties("${rc_file}" PROPERTIES
    OBJECT_DEPENDS "${table_bin};${strings_rc}")

  add_library(vtr_driver_module MODULE
    "${CMAKE_SOURCE_DIR}/driver/driver_exports.cpp"
    "${CMAKE_SOURCE_DIR}/driver/mcivtr.def"
    "${rc_file}"
    "${CMAKE_SOURCE_DIR}/dialogs/dialogs.rc")
  set_target_properties(vtr_driver_module PROPERTIES
    OUTPUT_NAME mcivtr PREFIX "" SUFFIX ".drv"
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin"
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
  target_link_libraries(vtr_driver_module PRIVATE vtr_core vtr_common vtr_platform)
  target_compile_options(vtr_driver_module PRIVATE -fno-exceptions)
  # One self-contained file to install: no libstdc++/libgcc DLLs beside it.
  target_link_options(vtr_driver_module PRIVATE -static -static-libgcc -static-libstdc++)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # x86: the .def names the undecorated stdcall symbols (DriverProc =
    # vtrExportDriverProc); the linker resolves them to the @n names.
    target_link_options(vtr_driver_module PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  if(table_target)
    add_dependencies(vtr_driver_module ${table_target})
  endif()
endfunction()

vtr_windows_add_driver_module()
