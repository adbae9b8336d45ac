# Install rules beyond the library's own (lib/CMakeLists.txt) and the Debian
# package. `cmake --install BUILD --prefix DIR` or `make install PREFIX=DIR`.
install(TARGETS vtrctl vtrsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${CMAKE_SOURCE_DIR}/man/vtrctl.1 ${CMAKE_SOURCE_DIR}/man/vtrsim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES ${CMAKE_SOURCE_DIR}/man/vtr422.3
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vtr422)
set(CPACK_PACKAGE_VENDOR "vtr422")
set(CPACK_PACKAGE_CONTACT "vtr422 maintainers <vtr422@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Control decks over 9-pin RS-422: libvtr422, vtrctl and the virtual deck vtrsim")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
find_program(VTR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VTR_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()  # without dpkg-dev
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libreadline8")
  if(TARGET vtr_dialog_form)  # vtrctl and vtrconfig draw the configuration form
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libncurses6, libtinfo6")
  endif()
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
