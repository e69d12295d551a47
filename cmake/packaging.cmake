# Install rules and packages.
#
# Linux: GNU install dirs (programs in bin, documents in share/doc/tolvane,
# data in share/tolvane, man pages, a systemd user unit) and a Debian package
# from CPack. Windows: one flat folder (the programs, the page, the sample
# capture, and README.txt from docs/README-Windows.txt and the sample settings
# with CR LF line ends), zipped by cmake/make_zip.py with
# fixed file times and order so that the same commit gives the same bytes.

# The programs a user runs; the simulator and the MQTT gateway exist on Linux only.
set(tolvane_programs tolvane tolvane-headless tolvane-config tolvane-probe tolvane-decode
                     tolvane-devsim tolvane-publish)
set(tolvane_installed_programs)
foreach(program IN LISTS tolvane_programs)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${TOLVANE_INSTALL_BINDIR})
        list(APPEND tolvane_installed_programs ${program})
    endif()
endforeach()

# The live view page is installed by web/CMakeLists.txt.

set(package_text ${CMAKE_BINARY_DIR}/package-text)
if(WIN32)
    # Texts for Notepad: CR LF line ends. The README is the Windows one.
    foreach(pair IN ITEMS "docs/README-Windows.txt:README.txt" "LICENSE:LICENSE.txt"
                          "samples/tolv.conf:tolv.conf")
        string(REPLACE ":" ";" parts ${pair})
        list(GET parts 0 from)
        list(GET parts 1 to)
        # Read at configure time, so an edit must configure again.
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                     ${PROJECT_SOURCE_DIR}/${from})
        file(READ ${PROJECT_SOURCE_DIR}/${from} text)
        string(REPLACE "\r\n" "\n" text "${text}")
        string(REPLACE "\n" "\r\n" text "${text}")
        file(WRITE ${package_text}/${to} "${text}")
        install(FILES ${package_text}/${to} DESTINATION .)
    endforeach()
    # The sample capture for tolvane-decode, byte for byte (device traffic, not
    # a text to edit), where the decoder's help names it.
    install(FILES samples/capture.txt DESTINATION .)
else()
    install(FILES README.md DESTINATION ${TOLVANE_INSTALL_DOCDIR})
    install(FILES samples/tolv.conf DESTINATION ${TOLVANE_INSTALL_DATADIR})
    # Debian's places for the licence and the change log (of a native package).
    install(FILES LICENSE DESTINATION ${TOLVANE_INSTALL_DOCDIR} RENAME copyright)
    # SOURCE_DATE_EPOCH, when set, fixes the date.
    string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
    file(WRITE ${package_text}/changelog
         "tolvane (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
         "  * Release ${PROJECT_VERSION}.\n\n"
         " -- tolvane authors <maintainers@tolvane.invalid>  ${changelog_date}\n")
    add_custom_command(OUTPUT ${package_text}/changelog.gz
        COMMAND gzip -9n -c ${package_text}/changelog > ${package_text}/changelog.gz
        DEPENDS ${package_text}/changelog VERBATIM)

    # The unit names the packaged program.
    set(TOLVANE_UNIT_BINDIR /usr/bin)
    configure_file(cmake/tolvane-headless.service.in
                   ${package_text}/tolvane-headless.service @ONLY)
    install(FILES ${package_text}/tolvane-headless.service DESTINATION lib/systemd/user)

    # Man pages from each program's own --help and --version, so they cannot
    # fall behind the program.
    find_program(HELP2MAN help2man)
    set(about_tolvane-headless "run the tolvane bridge without a window")
    set(about_tolvane-config "read and change the tolvane settings file tolv.conf")
    set(about_tolvane-probe "ask a tolvane bridge for values over the LAN")
    set(about_tolvane-decode "turn a capture of device traffic into the bridge's replies")
    set(about_tolvane-devsim "a simulated tolvane motion device on a pseudo-terminal")
    set(about_tolvane-publish "republish a tolvane bridge's values to an MQTT broker and OSC")
    set(man_pages ${package_text}/changelog.gz)
    if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
        foreach(program IN LISTS tolvane_installed_programs)
            set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
            add_custom_command(OUTPUT ${page}.gz
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                COMMAND ${HELP2MAN} --no-info --no-discard-stderr
                        "--name=${about_${program}}" --output=${page} $<TARGET_FILE:${program}>
                COMMAND gzip -9nf ${page}
                DEPENDS ${program} VERBATIM)
            list(APPEND man_pages ${page}.gz)
            install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        endforeach()
    endif()
    add_custom_target(package_texts ALL DEPENDS ${man_pages})
    install(FILES ${package_text}/changelog.gz DESTINATION ${TOLVANE_INSTALL_DOCDIR})
endif()

# ---- The air mouse's uinput device (Linux) ----
# The udev rule lets the user at the machine's own seat make input events
# through /dev/uinput; the module is loaded at boot.
if(NOT WIN32)
    install(FILES cmake/70-tolvane-uinput.rules DESTINATION lib/udev/rules.d)
    install(FILES cmake/tolvane-modules-load.conf DESTINATION lib/modules-load.d
            RENAME tolvane.conf)
endif()

# ---- Debian package ----
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "tolvane authors")
set(CPACK_PACKAGE_CONTACT "tolvane authors <maintainers@tolvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bridge for a hand-held 3D motion device on a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "tolvane reads the device's lines from a serial port, smooths them and offers\n"
    "the orientation as an air mouse and to one LAN client (plain text or\n"
    "WebSocket). This package holds the headless bridge, its configuration\n"
    "tool, a LAN probe, a capture decoder, a device simulator and an MQTT gateway.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME tolvane_${PROJECT_VERSION}_amd64.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_FILE_NAME tolvane-${PROJECT_VERSION}-win64)
include(CPack)
