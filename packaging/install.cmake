# Installed like a system tool: lromup in sbin, lromup-sim in bin, their man
# pages, and the rescue-media builds beside them for making boot media. CPack
# turns the same tree into a .deb.
include(GNUInstallDirs)

install(TARGETS lromup DESTINATION ${CMAKE_INSTALL_SBINDIR})
if(TARGET lromup-sim)
  install(TARGETS lromup-sim DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES man/lromup.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES man/lromup-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(LROMUP_RESCUE_DIR ${CMAKE_INSTALL_LIBEXECDIR}/lromup)
foreach(rescue lromup-static lromup-i386)
  if(TARGET ${rescue})
    install(TARGETS ${rescue} DESTINATION ${LROMUP_RESCUE_DIR})
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lromup)
set(CPACK_PACKAGE_VERSION 1.11)
set(CPACK_PACKAGE_CONTACT "lromup developers <lromup@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "BIOS update utility for Moro 310, 320 and 330 boards")
set(CPACK_PACKAGE_DESCRIPTION
    "lromup writes a BIOS image into the primary or backup bank of the board's SPI flash,
carries the machine's identity into the new image, switches the boot bank and drives
the EEPROM write-protect line. lromup-sim runs it on a simulated board.")
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
