# Run by CPack after it has built the .deb files (CPACK_POST_BUILD_SCRIPTS).
# For a shared library under /usr/lib CPack writes postinst and postrm
# scripts that only run ldconfig. The package activates dpkg's ldconfig
# trigger instead (packaging/debian/triggers), as Debian's own tools do, so
# those scripts are taken out again.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(VTR_DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(dir ${CPACK_TOPLEVEL_DIRECTORY}/vtr_repack)
  file(REMOVE_RECURSE ${dir})
  execute_process(COMMAND ${VTR_DPKG_DEB} -R ${deb} ${dir} COMMAND_ERROR_IS_FATAL ANY)
  set(removed FALSE)
  if(EXISTS ${dir}/DEBIAN/triggers)
    foreach(script postinst postrm)
      if(EXISTS ${dir}/DEBIAN/${script})
        file(READ ${dir}/DEBIAN/${script} text)
        string(REGEX REPLACE "#!/bin/sh|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi|[ \t\n]"
               "" rest "${text}")
        if(rest STREQUAL "")
          file(REMOVE ${dir}/DEBIAN/${script})
          set(removed TRUE)
        endif()
      endif()
    endforeach()
  endif()
  if(removed)
    execute_process(COMMAND ${VTR_DPKG_DEB} --root-owner-group -b ${dir} ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${dir})
endforeach()
