# SPDX-License-Identifier: GPL-3.0-or-later
# Installing like a desktop program (cmake --install): the program, its
# desktop entry, icon, AppStream metainfo and man page; and a Debian package
# of the same (cpack -G DEB in a Release build).
include(GNUInstallDirs)
install(TARGETS miral RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/org.miral.Miral.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/org.miral.Miral.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/org.miral.Miral.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/data/miral.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The licence, where Debian's tools and users look for it.
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/miral)
# The type of the measurement bundles (NAME.miral), so that the desktop opens
# them with Miral (the desktop entry names the type).
install(FILES ${PROJECT_SOURCE_DIR}/data/org.miral.Miral.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME org.miral.Miral.xml)

set(CPACK_PACKAGE_NAME miral)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Miral")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bench instrument on the sound card: oscilloscope, spectrum and Bode analyzer, impedance meter")
set(CPACK_PACKAGE_CONTACT "Miral developers <developers@miral.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The shared libraries the program links (Qt, RtAudio, ALSA, libsndfile, ...)
# become the package's dependencies; the Qt platform plugins are loaded at
# run time, so they are named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
include(CPack)
