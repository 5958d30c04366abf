# Installation and the Debian package: the command line, the window, its
# desktop entry (with MIME types for the archive kinds, declared for
# shared-mime-info) and its icon.
#   cmake --install BUILD --prefix DIR
#   cpack --config BUILD/CPackConfig.cmake -G DEB -B OUTDIR
# The package's dependencies are worked out by dpkg-shlibdeps from the
# libraries the programs link.
include(GNUInstallDirs)

install(TARGETS quarrendel-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(QUARRENDEL_GUI)
  install(TARGETS quarrendel RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/quarrendel.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/quarrendel.svg"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/quarrendel-mime.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/mime/packages"
          RENAME quarrendel.xml)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarrendel)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quarrendel")
set(CPACK_PACKAGE_CONTACT "Quarrendel developers <quarrendel@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "texture archive viewer and editor for Dreamcast, GameCube and Xbox games")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n Opens PVM, GVM and XVM texture archives, AFS archives and BML packages,\n plain or PRS-compressed, shows every texture decoded, exports textures and\n replaces or adds them re-encoded for the console. A desktop window and a\n command line, quarrendel-cli, for scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
