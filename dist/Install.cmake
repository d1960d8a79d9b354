# Where everything goes on a workstation: the Debian package only runs these
# rules (cmake --install, one component per binary package). With
# CMAKE_INSTALL_PREFIX /usr:
#
#   component client (package orixclient)
#     /usr/bin/OrixClientAPP                          0755
#     /usr/lib/cups/backend/tavpdf                    0700 (CUPS runs it as root)
#     /usr/share/ppd/orixclient/tavpdf.ppd
#     /usr/lib/orixclient/                            the sign-on stand-in, the two disc
#                                                     libraries, the queue helper
#     /etc/orixclient/OrixClientAPP.ini               the configuration (the package
#                                                     ships it as a sample in
#                                                     /usr/share/orixclient and manages
#                                                     /etc with debconf and ucf)
#     /Library/Application Support/TavPrint Driver/   the program folder: links to the
#                                                     configuration and the disc libraries
#     /usr/share/icons/hicolor/*/apps/orixclient.*    the icon
#     /usr/share/applications/orixclient.desktop
#     /usr/share/metainfo/org.orixclient.OrixClient.metainfo.xml   for software centres
#     /etc/xdg/autostart/orixclient.desktop
#     /usr/share/man/man1/OrixClientAPP.1
#   component devserver (package orixclient-devserver)
#     /usr/bin/orws-devserver, its manual page
#
# The sign-on stand-in is not linked into the program folder: its presence
# there turns every client to the outside sign-on (README, administrators).

include(GNUInstallDirs)

set(ORIX_LIBRARY_DIR lib/orixclient)
set(ORIX_PROGRAM_FOLDER "/Library/Application Support/TavPrint Driver")
set(ORIX_DIST ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS OrixClientAPP RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
# CUPS runs a backend as root only when nobody else may read, write or run it.
install(TARGETS tavpdf RUNTIME DESTINATION lib/cups/backend COMPONENT client
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
install(FILES ${PROJECT_SOURCE_DIR}/cups/tavpdf.ppd
    DESTINATION ${CMAKE_INSTALL_DATADIR}/ppd/orixclient COMPONENT client)
install(TARGETS ifclient disc_minizip disc_codec
    LIBRARY DESTINATION ${ORIX_LIBRARY_DIR} COMPONENT client
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/cups/tavpdf-queue.sh
    DESTINATION ${ORIX_LIBRARY_DIR} RENAME tavpdf-queue COMPONENT client)
install(FILES ${ORIX_DIST}/OrixClientAPP.ini
    DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/orixclient COMPONENT client)
install(FILES ${ORIX_DIST}/orixclient-autostart.desktop
    DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart RENAME orixclient.desktop
    COMPONENT client)
install(FILES ${ORIX_DIST}/orixclient.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
install(FILES ${ORIX_DIST}/org.orixclient.OrixClient.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT client)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/hicolor/${size}x${size}/apps/orixclient.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT client)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/art/ICON_Online.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME orixclient.svg
    COMPONENT client)
install(FILES ${ORIX_DIST}/OrixClientAPP.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT client)

# The program folder: the client finds its configuration and the disc
# libraries there by these fixed names. Absolute links (they cross top-level
# folders); made here because the folder's name has blanks.
install(DIRECTORY DESTINATION "${ORIX_PROGRAM_FOLDER}" COMPONENT client)
set(ORIX_PROGRAM_LINKS
    "OrixClientAPP.ini=${CMAKE_INSTALL_FULL_SYSCONFDIR}/orixclient/OrixClientAPP.ini"
    "libminizip.so=${CMAKE_INSTALL_PREFIX}/${ORIX_LIBRARY_DIR}/libminizip.so"
    "revududir.so=${CMAKE_INSTALL_PREFIX}/${ORIX_LIBRARY_DIR}/revududir.so")
foreach(link IN LISTS ORIX_PROGRAM_LINKS)
    string(REPLACE "=" ";" parts "${link}")
    list(GET parts 0 name)
    list(GET parts 1 target)
    install(CODE "file(CREATE_LINK \"${target}\"
        \"\$ENV{DESTDIR}${ORIX_PROGRAM_FOLDER}/${name}\" SYMBOLIC)" COMPONENT client)
endforeach()

install(TARGETS orws-devserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT devserver)
install(FILES ${ORIX_DIST}/orws-devserver.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT devserver)

# The libraries the client and the backend load by their SONAME when first
# needed, which the package's dependency scan cannot see: one path a line,
# for debian/rules.
get_property(ORIX_LOADED_LIBRARIES GLOBAL PROPERTY ORIX_LOADED_LIBRARIES)
list(REMOVE_DUPLICATES ORIX_LOADED_LIBRARIES)
list(JOIN ORIX_LOADED_LIBRARIES "\n" loaded)
file(WRITE ${CMAKE_BINARY_DIR}/loaded-libraries "${loaded}\n")
