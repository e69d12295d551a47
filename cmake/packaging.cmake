# Install rules and packages.
#
# Linux: GNU install dirs (programs in bin, documents in share/doc/tolvane,
# data in share/tolvane, man pages, a systemd user unit) and a Debian package
# from CPack. Windows: one flat folder (the programs, the page, the sample
# capture, and README.txt from docs/README-Windows.txt and the sample settings
# with CR LF line ends, the README with a UTF-8 byte-order mark), zipped by
# cmake/make_zip.py with fixed file times and order so that the same commit
# gives the same bytes.

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
        if(to STREQUAL "README.txt")
            # A UTF-8 byte-order mark: without it Notepad in a Japanese (or
            # any non-UTF-8) locale may read the labels as the local code
            # page. Not for tolv.conf, whose first line is the port's name.
            string(ASCII 239 187 191 bom)
            string(REGEX REPLACE "^${bom}" "" text "${text}")
            string(PREPEND text "${bom}")
        endif()
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
    # The change log is kept in the tree: its newest entry names this version,
    # and its date dates the man pages (and the package, when git cannot).
    set(changelog ${PROJECT_SOURCE_DIR}/cmake/changelog)
    file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
    if(NOT changelog_head MATCHES "^tolvane \\(${PROJECT_VERSION}\\) ")
        message(FATAL_ERROR "cmake/changelog: its first entry is not version ${PROJECT_VERSION}")
    endif()
    file(STRINGS ${changelog} changelog_trailers REGEX "^ -- ")
    list(GET changelog_trailers 0 changelog_trailer)
    string(REGEX REPLACE "^ -- .*>  " "" changelog_date "${changelog_trailer}")
    execute_process(COMMAND date -u -d "${changelog_date}" +%s
                    OUTPUT_VARIABLE TOLVANE_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE date_failed)
    if(date_failed OR NOT TOLVANE_RELEASE_EPOCH MATCHES "^[0-9]+$")
        message(FATAL_ERROR "cmake/changelog: no date in '${changelog_trailer}'")
    endif()
    add_custom_command(OUTPUT ${package_text}/changelog.gz
        COMMAND gzip -9n -c ${changelog} > ${package_text}/changelog.gz
        DEPENDS ${changelog} VERBATIM)

    # The unit names the packaged program.
    set(TOLVANE_UNIT_BINDIR /usr/bin)
    configure_file(cmake/tolvane-headless.service.in
                   ${package_text}/tolvane-headless.service @ONLY)
    install(FILES ${package_text}/tolvane-headless.service DESTINATION lib/systemd/user)

    # Man pages from each program's own --help and --version, so they cannot
    # fall behind the program, with the sections of cmake/man/PROGRAM.h2m
    # (files, see also; for the bridge the service and the event log).
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
            set(include ${PROJECT_SOURCE_DIR}/cmake/man/${program}.h2m)
            add_custom_command(OUTPUT ${page}.gz
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN}
                        -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
                        "-DABOUT=${about_${program}}" -DINCLUDE=${include}
                        -DDATE_EPOCH=${TOLVANE_RELEASE_EPOCH} -DOUTPUT=${page}
                        -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
                COMMAND gzip -9nf ${page}
                DEPENDS ${program} ${include} ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
                        ${changelog}
                VERBATIM)
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
