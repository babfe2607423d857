# Install rules and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(X45_INSTALL_TARGETS x45eep-cli x45sim)
if(X45_BUILD_GUI)
  list(APPEND X45_INSTALL_TARGETS x45eep)
endif()
install(TARGETS ${X45_INSTALL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(X45_MAN_PAGES x45eep-cli.1)
if(X45_BUILD_GUI)
  list(APPEND X45_MAN_PAGES x45eep.1)
endif()
foreach(page ${X45_MAN_PAGES})
  configure_file(packaging/${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
if(X45_BUILD_GUI)
  install(FILES packaging/x45eep.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(packaging/io.github.x45eep.x45eep.metainfo.xml
                 ${CMAKE_CURRENT_BINARY_DIR}/io.github.x45eep.x45eep.metainfo.xml @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/io.github.x45eep.x45eep.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES resources/icons/x45eep.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 32 48 64 128 256)
    install(FILES resources/icons/x45eep-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME x45eep.png)
  endforeach()
endif()

set(CPACK_PACKAGE_NAME x45eep)
set(CPACK_PACKAGE_VENDOR "x45eep developers")
set(CPACK_PACKAGE_CONTACT "x45eep developers <x45eep@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "EEPROM backup and restore for x45-generation phones over a serial cable")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# dpkg-shlibdeps (dpkg-dev) finds the Qt and C++ libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin (X11, Wayland), which the libraries only recommend.
if(X45_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
