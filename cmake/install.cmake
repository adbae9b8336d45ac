# Install rules beyond the library's own (lib/CMakeLists.txt), and the Debian
# packages: `cmake --install BUILD --prefix DIR` or `make install PREFIX=DIR`;
# `make package` for the .deb files (docs/packaging.md).
#
# Components, one Debian package each:
#   library      libvtr422-0     the shared library and its soname link
#   development  libvtr422-dev   header, .so link, pkg-config file, CMake package, man 3
#   tools        vtr422-tools    vtrctl, vtrsim, vtrconfig, man 1
option(VTR_PACKAGE_DEBIAN
       "Install the Debian packages' own files (copyright, changelog) under share/doc" OFF)

set(VTR_PROGRAMS vtrctl vtrsim)
if(TARGET vtrconfig)
  list(APPEND VTR_PROGRAMS vtrconfig)
endif()
install(TARGETS ${VTR_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# Man pages, compressed as Debian ships them (gzip -9n: no name, no time, so
# the same page gives the same bytes). The footer carries the project's
# version. Pages that describe several functions are reached from the other
# names by symbolic links (VTR_MAN3_LINKS, NAME=PAGE).
set(VTR_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(VTR_MAN3_LINKS vtr_close_library=vtr_open_library
                   vtr_detach_virtual_deck=vtr_attach_virtual_deck)
find_program(VTR_GZIP gzip REQUIRED)
set(VTR_MAN_OUTPUTS)
foreach(section 1 3)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.${section})
  set(VTR_MAN${section})
  foreach(src IN LISTS sources)
    get_filename_component(name ${src} NAME_WLE)
    list(APPEND VTR_MAN${section} ${name})
    set(page ${VTR_MAN_DIR}/${name}.${section})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
    file(READ ${src} text)
    string(REGEX REPLACE "\"vtr422 [^\"]*\"" "\"vtr422 ${PROJECT_VERSION}\"" text "${text}")
    file(CONFIGURE OUTPUT ${page} CONTENT "${text}" @ONLY)
    add_custom_command(OUTPUT ${page}.gz COMMAND ${VTR_GZIP} -9nkf ${page} DEPENDS ${page}
                       COMMENT "Compressing ${name}.${section}" VERBATIM)
    list(APPEND VTR_MAN_OUTPUTS ${page}.gz)
  endforeach()
endforeach()
add_custom_target(vtr_man_pages ALL DEPENDS ${VTR_MAN_OUTPUTS})
list(TRANSFORM VTR_MAN1 REPLACE "(.+)" "${VTR_MAN_DIR}/\\1.1.gz")
install(FILES ${VTR_MAN1} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
set(VTR_MAN3_FILES ${VTR_MAN3})
list(TRANSFORM VTR_MAN3_FILES REPLACE "(.+)" "${VTR_MAN_DIR}/\\1.3.gz")
foreach(link IN LISTS VTR_MAN3_LINKS)
  string(REPLACE "=" ";" link "${link}")
  list(GET link 0 name)
  list(GET link 1 target)
  file(CREATE_LINK ${target}.3.gz ${VTR_MAN_DIR}/${name}.3.gz SYMBOLIC)
  list(APPEND VTR_MAN3_FILES ${VTR_MAN_DIR}/${name}.3.gz)
endforeach()
install(FILES ${VTR_MAN3_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)

# The Debian packages: maintainer, licence, description and dependencies of
# each. Built from a /usr build by `make package`, so the library lands in
# the multiarch directory (GNUInstallDirs: lib/<triplet> under /usr).
set(VTR_DEB_RELEASE 1)
set(VTR_MAINTAINER "vtr422 authors <vtr422-maintainers@users.noreply.github.com>")
set(VTR_DEB_COMPONENTS library development tools)
set(VTR_DEB_NAME_library libvtr422-${PROJECT_VERSION_MAJOR})
set(VTR_DEB_NAME_development libvtr422-dev)
set(VTR_DEB_NAME_tools vtr422-tools)
if(VTR_PACKAGE_DEBIAN)
  # The changelog's latest entry names the version being packaged.
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VTR_CHANGELOG_TOP LIMIT_COUNT 1)
  if(NOT VTR_CHANGELOG_TOP MATCHES "^vtr422 \\(${PROJECT_VERSION}-${VTR_DEB_RELEASE}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog: the latest entry is not "
                        "${PROJECT_VERSION}-${VTR_DEB_RELEASE} (${VTR_CHANGELOG_TOP})")
  endif()
  set(changelog ${CMAKE_BINARY_DIR}/debian/changelog.Debian)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${changelog} COPYONLY)
  add_custom_command(OUTPUT ${changelog}.gz COMMAND ${VTR_GZIP} -9nkf ${changelog}
                     DEPENDS ${changelog} VERBATIM)
  add_custom_target(vtr_debian_changelog ALL DEPENDS ${changelog}.gz)
  foreach(component IN LISTS VTR_DEB_COMPONENTS)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${changelog}.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VTR_DEB_NAME_${component}}
            COMPONENT ${component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME vtr422)
set(CPACK_PACKAGE_VENDOR "the vtr422 authors")
set(CPACK_PACKAGE_CONTACT "${VTR_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)  # the descriptions hold quotes
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VTR_DEB_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VTR_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE vtr422)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VTR_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian packages' files belong to root, whoever builds them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
foreach(component IN LISTS VTR_DEB_COMPONENTS)
  string(TOUPPER ${component} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${VTR_DEB_NAME_${component}})
endforeach()

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "control videotape recorders over 9-pin RS-422 (MCI \"vcr\")
libvtr422 lets programs control professional videotape recorders, and
machines that behave like one, over an RS-422 serial line with the Sony/SMPTE
9-pin protocol. Programs send the Media Control Interface command strings and
messages of the device type \"vcr\": open, play, cue, seek, record, edit,
status and the others. A virtual deck inside the library stands in for the
machine, so programs and their tests run without hardware.
.
This package holds the shared library.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "control videotape recorders over 9-pin RS-422 - development files
libvtr422 lets programs control professional videotape recorders, and
machines that behave like one, over an RS-422 serial line with the Sony/SMPTE
9-pin protocol. Programs send the Media Control Interface command strings and
messages of the device type \"vcr\". A virtual deck inside the library stands
in for the machine, so programs and their tests run without hardware.
.
This package holds the header, the pkg-config file, the CMake package
(find_package(vtr422) gives vtr422::vtr422) and the manual pages of the
functions.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION video)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "console, virtual deck and settings for 9-pin RS-422 videotape recorders
The programs of vtr422, the MCI \"vcr\" driver that controls professional
videotape recorders over an RS-422 serial line with the Sony/SMPTE 9-pin
protocol.
.
vtrctl sends MCI command strings to decks from the command line, a script
or an interactive prompt, and has a virtual deck of its own. vtrsim is a
virtual deck on a pseudo-terminal, for trying the driver or any 9-pin
controller without hardware. vtrconfig shows the driver's configuration
dialogs in a terminal.")

# The library and the development files go together at the same version.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_finish.cmake)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${VTR_DEB_NAME_library} (= ${PROJECT_VERSION}-${VTR_DEB_RELEASE})")

# The programs' and the library's own dependencies: from dpkg-shlibdeps, or
# without dpkg-dev from the libraries they need (objdump's NEEDED entries),
# read when CPack runs (cmake/deb_depends.cmake).
find_program(VTR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VTR_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/deb_depends.cmake)
  set(VTR_DEB_NEEDED_library $<TARGET_FILE:vtr422>)
  set(VTR_DEB_NEEDED_tools)
  foreach(program IN LISTS VTR_PROGRAMS)
    list(APPEND VTR_DEB_NEEDED_tools $<TARGET_FILE:${program}>)
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/debian/needed.cmake CONTENT
       "set(VTR_DEB_NEEDED_library \"${VTR_DEB_NEEDED_library}\")\nset(VTR_DEB_NEEDED_tools \"${VTR_DEB_NEEDED_tools}\")\n")
  set(CPACK_VTR_NEEDED_FILE ${CMAKE_BINARY_DIR}/debian/needed.cmake)
  set(CPACK_VTR_LIBRARY_ARCHITECTURE ${CMAKE_LIBRARY_ARCHITECTURE})
endif()
include(CPack)
