# Installation on a Linux desktop and the Debian package:
#   cmake --install <build>      program, .xls reader, "quellorix" link, Word template, icon, desktop entry,
#                                manual, copyright, changelog, manual page
#   cpack -G DEB (in <build>)    quellorix_<version>_<arch>.deb
include(GNUInstallDirs)

install(TARGETS Quellorix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A Debug build's core library lies beside the .xls reader, where the program finds it.
if(QUELLORIX_CORE_TYPE STREQUAL "SHARED")
    install(TARGETS QuellorixCore LIBRARY DESTINATION lib/quellorix)
    set_target_properties(Quellorix PROPERTIES INSTALL_RPATH "$ORIGIN/../lib/quellorix")
endif()
# The .xls reader runs as a process of its own; the program looks for it in ../lib/quellorix.
install(TARGETS quellorix-xls RUNTIME DESTINATION lib/quellorix)
# The Word template: the program looks beside itself, then in ../share/quellorix.
install(FILES ${QUELLORIX_WORD_TEMPLATE} DESTINATION ${CMAKE_INSTALL_DATADIR}/quellorix)
# A lower-case command beside the program; the settings follow the program file, not the link.
file(CREATE_LINK Quellorix ${CMAKE_CURRENT_BINARY_DIR}/quellorix SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quellorix DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quellorix.desktop ${CMAKE_CURRENT_LIST_DIR}/quellorix-startplatz.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/images/Quellorix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME quellorix.svg)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/reports/manual/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quellorix/handbuch)
# What a Debian package carries beside the program: copyright, changelog (gzipped
# without a time stamp) and the manual page, also under the program file's name.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(package_doc_sources ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${CMAKE_CURRENT_LIST_DIR}/debian/quellorix.1)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/quellorix.1.gz
                   COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_CURRENT_LIST_DIR}/debian/changelog > changelog.gz
                   COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_CURRENT_LIST_DIR}/debian/quellorix.1 > quellorix.1.gz
                   WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                   DEPENDS ${package_doc_sources})
add_custom_target(PackageDocs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/quellorix.1.gz)
file(CREATE_LINK quellorix.1.gz ${CMAKE_CURRENT_BINARY_DIR}/Quellorix.1.gz SYMBOLIC)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quellorix)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quellorix.1.gz ${CMAKE_CURRENT_BINARY_DIR}/Quellorix.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME quellorix)
set(CPACK_PACKAGE_VENDOR "Tarnvik Software")
set(CPACK_PACKAGE_CONTACT "Tarnvik Software <quellorix@tarnvik.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zeitmessung für Seifenkistenrennen")
# Lines of the long description stay below 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Misst die Laufzeiten bei Seifenkistenrennen auf einer oder zwei Bahnen,\nmit Maus, Tasten oder Lichtschranken an der seriellen Schnittstelle, und\nführt das Zeitenprotokoll mit Wertung nach Klassen.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnvik.example.org/")
# The Qt libraries the program links come from dpkg-shlibdeps; the plugins it loads are named here:
# the desktop's window system and the SVG pictures (icon, manual); Qt's German texts for its dialogs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, qt6-translations-l10n")
# Real-time priority for the threads that stamp barrier edges, for an ordinary desktop user.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "rtkit")
include(CPack)
