# Installed like a system tool: lromup in sbin, lromup-sim in bin, their man
# pages, and the rescue-media builds beside them for making boot media. CPack
# turns the same tree into a .deb laid out as Debian policy asks (compressed
# man pages and changelog, copyright file, lintian overrides).
include(GNUInstallDirs)

install(TARGETS lromup DESTINATION ${CMAKE_INSTALL_SBINDIR})
if(TARGET lromup-sim)
  install(TARGETS lromup-sim DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(LROMUP_RESCUE_DIR ${CMAKE_INSTALL_LIBEXECDIR}/lromup)
foreach(rescue lromup-static lromup-i386)
  if(TARGET ${rescue})
    install(TARGETS ${rescue} DESTINATION ${LROMUP_RESCUE_DIR})
  endif()
endforeach()

# Man pages and the changelog are installed gzip-compressed, without a name or
# time stamp in the header, so that the package builds the same every time.
set(LROMUP_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/lromup)
set(compressed)
set(docs "man/lromup.8\;${CMAKE_INSTALL_MANDIR}/man8"
         "man/lromup-sim.1\;${CMAKE_INSTALL_MANDIR}/man1"
         "packaging/changelog\;${LROMUP_DOC_DIR}")
foreach(doc ${docs})
  list(POP_FRONT doc source destination)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/compressed
                     COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/${source}
                             ${CMAKE_BINARY_DIR}/compressed/${name}
                     COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/compressed/${name}
                     DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${output})
  install(FILES ${output} DESTINATION ${destination})
endforeach()
add_custom_target(lromup-compressed-docs ALL DEPENDS ${compressed})
install(FILES packaging/copyright DESTINATION ${LROMUP_DOC_DIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME lromup)

# The version is the changelog's latest entry: one place to raise it.
file(STRINGS packaging/changelog changelog_head LIMIT_COUNT 1)
string(REGEX REPLACE "^lromup \\(([^)]+)\\).*" "\\1" LROMUP_VERSION "${changelog_head}")

set(LROMUP_MAINTAINER "lromup developers <lromup@lromup.invalid>" CACHE STRING
    "Maintainer field of the .deb: whoever builds the package for distribution")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lromup)
set(CPACK_PACKAGE_VERSION ${LROMUP_VERSION})
set(CPACK_PACKAGE_CONTACT ${LROMUP_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "BIOS update utility for Moro 310, 320 and 330 boards")
set(CPACK_PACKAGE_DESCRIPTION
    "lromup writes a BIOS image into the primary or backup bank of the board's
SPI flash, carries the machine's identity into the new image, switches the
boot bank and drives the EEPROM write-protect line. lromup-sim runs it on a
simulated board.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
find_program(LROMUP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LROMUP_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
