# Installation and Debian packages (CPack's DEB generator), one package per kind of PC:
#   qvr-client     the calling station of a desk
#   qvr-tabellone  the waiting-room board (when its target is built)
#   qvr-totem      the ticket kiosk (when its target is built)
#   qvr-ufficio    the office manager's window (when its target is built)
#   qvr-strumenti  the command-line tools qvr-archivio and qvr-carico
#   qvr-server     the office's recorder, a systemd system service
# The libraries are static, so no package of a shared library is needed. Runtime dependencies
# come from dpkg-shlibdeps on the installed executables; only the Qt plug-ins the programs load
# at run time (the SQLite driver, the X11 platform) are named by hand, since no linked library
# tells of them. Built by scripts/pacchetti.sh.
include(GNUInstallDirs)

set(QVR_PACCHETTI ${CMAKE_CURRENT_LIST_DIR})
set(QVR_PACCHETTI_COSTRUITI ${CMAKE_BINARY_DIR}/pacchetti)
file(MAKE_DIRECTORY ${QVR_PACCHETTI_COSTRUITI})
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${QVR_PACCHETTI}/changelog)

# An installed client enters the user's data folder (src/client/app/cartella_dati.h).
target_compile_definitions(qvr-client PRIVATE QVR_CARTELLA_INSTALLATA="${CMAKE_INSTALL_FULL_BINDIR}")

# Files compressed as Debian wants them (gzip -9, no name or time stamp).
function(qvr_gzip sorgente destinazione)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sorgente})
    execute_process(COMMAND gzip -9nc ${sorgente} OUTPUT_FILE ${destinazione})
endfunction()

# qvr_pacchetto(COMPONENT PROGRAMMI... [FINESTRA] [SERVIZIO]): installs the programs of one
# package with their man pages, doc files and, for a window program, its menu entry, icon and
# AppStream metainfo, and for an unattended PC its systemd user unit.
function(qvr_pacchetto componente)
    cmake_parse_arguments(P "FINESTRA;SERVIZIO" "" "PROGRAMMI" ${ARGN})
    set(pacchetto qvr-${componente})
    foreach(programma ${P_PROGRAMMI})
        install(TARGETS ${programma} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${componente})
        qvr_gzip(${QVR_PACCHETTI}/man/${programma}.1 ${QVR_PACCHETTI_COSTRUITI}/${programma}.1.gz)
        install(FILES ${QVR_PACCHETTI_COSTRUITI}/${programma}.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${componente})
    endforeach()
    if(P_FINESTRA)
        install(FILES ${QVR_PACCHETTI}/desktop/${pacchetto}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${componente})
        install(FILES ${QVR_PACCHETTI}/icone/${pacchetto}.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${componente})
        install(FILES ${QVR_PACCHETTI}/metainfo/it.qvr.${componente}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT ${componente})
    endif()
    if(P_SERVIZIO)
        install(FILES ${QVR_PACCHETTI}/systemd/${pacchetto}.service
            DESTINATION lib/systemd/user COMPONENT ${componente})
    endif()
    install(FILES ${QVR_PACCHETTI}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pacchetto} COMPONENT ${componente})
    install(FILES ${QVR_PACCHETTI_COSTRUITI}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pacchetto} COMPONENT ${componente})
    string(TOUPPER ${componente} C)
    set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${pacchetto} PARENT_SCOPE)
    set(CPACK_DEBIAN_${C}_FILE_NAME DEB-DEFAULT PARENT_SCOPE)
    set(CPACK_DEBIAN_${C}_PACKAGE_SECTION misc PARENT_SCOPE)
    # Every program reads the archive through Qt SQL: SQLite always; the PostgreSQL driver only
    # where the office keeps its archive on a server, so it is recommended, not required.
    if(P_FINESTRA)
        set(CPACK_DEBIAN_${C}_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins" PARENT_SCOPE)
        set(CPACK_DEBIAN_${C}_PACKAGE_RECOMMENDS "libqt6sql6-psql, qt6-translations-l10n"
            PARENT_SCOPE)
    else()
        set(CPACK_DEBIAN_${C}_PACKAGE_DEPENDS "libqt6sql6-sqlite" PARENT_SCOPE)
        set(CPACK_DEBIAN_${C}_PACKAGE_RECOMMENDS "libqt6sql6-psql" PARENT_SCOPE)
    endif()
    set(QVR_COMPONENTI ${QVR_COMPONENTI} ${componente} PARENT_SCOPE)
endfunction()

qvr_gzip(${QVR_PACCHETTI}/changelog ${QVR_PACCHETTI_COSTRUITI}/changelog.gz)

set(QVR_COMPONENTI)
qvr_pacchetto(client PROGRAMMI qvr-client FINESTRA)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "calling station of a take-a-number queue system
The program of every desk of an office that serves customers by ticket
number: the operator calls the next number, calls a chosen number, goes back
one number, resets or sets the station's number and sees how many people
wait at the ticket kiosk. It meets the board, the kiosk and the other desks
only through the shared archive folder. The user interface is in Italian.")
if(TARGET qvr-tabellone)
    qvr_pacchetto(tabellone PROGRAMMI qvr-tabellone FINESTRA SERVIZIO)
    set(CPACK_COMPONENT_TABELLONE_DESCRIPTION "waiting-room board of a take-a-number queue system
The program of the PC behind the waiting-room screen: it shows and announces
the numbers the desks call, reading them from the shared archive folder. A
systemd user unit starts it at login and restarts it if it ends. The user
interface is in Italian.")
endif()
if(TARGET qvr-totem)
    qvr_pacchetto(totem PROGRAMMI qvr-totem FINESTRA SERVIZIO)
    set(CPACK_COMPONENT_TOTEM_DESCRIPTION "ticket kiosk of a take-a-number queue system
The program of the kiosk PC with a ticket printer: the customer chooses a
service and takes a numbered ticket, counted in the shared archive folder. A
systemd user unit starts it at login and restarts it if it ends. The user
interface is in Italian.")
endif()
if(TARGET qvr-ufficio)
    qvr_pacchetto(ufficio PROGRAMMI qvr-ufficio FINESTRA)
    set(CPACK_COMPONENT_UFFICIO_DESCRIPTION "office manager's window of a take-a-number queue system
The window of the office's manager: who works at which desk and in which
numbering, the users, the restart after 99, the ticket kiosk switch, the
people waiting today and a new day, copies and checks of the archive, and
the figures of the office's journal. The user interface is in Italian.")
endif()
qvr_pacchetto(strumenti PROGRAMMI qvr-archivio qvr-carico)
set(CPACK_COMPONENT_STRUMENTI_DESCRIPTION "command-line tools of a take-a-number queue system
qvr-archivio creates a complete archive folder, shows its state, issues
kiosk tickets and writes a station's settings file; qvr-carico runs a load
test of many stations calling at once on one archive.")
# qvr-archivio statistiche --pdf draws its report on Qt's offscreen platform.
set(CPACK_DEBIAN_STRUMENTI_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins")

# The recorder: its own package with a system unit, its user (sysusers.d), its settings file
# as a conffile, and the scripts that make the user and reload systemd.
qvr_pacchetto(server PROGRAMMI qvr-server)
install(FILES ${QVR_PACCHETTI}/systemd/qvr-server.service
    DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${QVR_PACCHETTI}/server/qvr-server.sysusers
    DESTINATION lib/sysusers.d RENAME qvr-server.conf COMPONENT server)
install(FILES ${QVR_PACCHETTI}/server/qvr-server.ini
    DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/qvr COMPONENT server)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${QVR_PACCHETTI}/server/conffiles
    ${QVR_PACCHETTI}/server/postinst ${QVR_PACCHETTI}/server/prerm
    ${QVR_PACCHETTI}/server/postrm)
# No dependency on systemd itself (every Debian system that runs the unit has it; a package of
# its own would stay behind on removal): without systemd-sysusers the user is made by useradd.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_COMPONENT_SERVER_DESCRIPTION "recorder of a take-a-number queue system
qvr-server runs as a system service beside the archive folder and keeps the
office's journal Registro.mdb: every ticket issued, every call, wait and
absence of the desks, and the spans it could not read the archive, so that
qvr-archivio statistiche can tell how many people came, how long they
waited, at which hours and how long each desk took.")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QVR")
set(CPACK_PACKAGE_CONTACT "QVR maintainers <maintainers@users.noreply.c-seed-3c48b45f.example>")
set(CPACK_COMPONENTS_ALL ${QVR_COMPONENTI})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/dist)
include(CPack)
