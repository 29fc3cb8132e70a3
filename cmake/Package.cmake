# Installation layout and the Debian package. `make package` configures a
# separate build with Debian's hardening flags and runs `cpack -G DEB`, which
# makes kelmem_<version>_amd64.deb from what is installed here: the programs
# in /usr/bin, their manual pages gzipped as Debian ships them, and
# /usr/share/doc/kelmem with the README (and the picture it shows), the
# examples, the copyright file and the changelog, and the playground page in
# /usr/share/kelmem where it was built.

include(GNUInstallDirs)

# Installs doc/<page> as <page>.gz under the manual's section folder.
# gzip -n leaves out the name and time stamp, so the file is reproducible.
function(kelmem_man_page page)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  set(src ${PROJECT_SOURCE_DIR}/doc/${page})
  set(gz ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c '${src}' > '${gz}'"
    DEPENDS ${src}
    VERBATIM)
  add_custom_target(man-${page} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

# Installs the changelog, its first entry carrying the project's version,
# gzipped into the documentation folder.
function(kelmem_changelog)
  set(text ${PROJECT_BINARY_DIR}/doc/changelog)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${text} @ONLY)
  add_custom_command(OUTPUT ${text}.gz
    COMMAND sh -c "gzip -9n -c '${text}' > '${text}.gz'"
    DEPENDS ${text}
    VERBATIM)
  add_custom_target(doc-changelog ALL DEPENDS ${text}.gz)
  install(FILES ${text}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endfunction()

install(TARGETS kelmem RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
kelmem_man_page(kelmem.1)
if(TARGET kelmem-view)
  install(TARGETS kelmem-view RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  kelmem_man_page(kelmem-view.1)
endif()
if(TARGET kelmem-check)
  install(TARGETS kelmem-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  kelmem_man_page(kelmem-check.1)
endif()

install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README shows them; the links stay the same in the documentation folder.
install(FILES doc/kelmem-view.png doc/kelmem-view-replays.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc)
# The playground page, where it was built (emscripten installed; `make
# package` builds it then): /usr/share/kelmem/playground.html.
if(TARGET playground)
  install(FILES ${KELMEM_PLAYGROUND_HTML} DESTINATION ${CMAKE_INSTALL_DATADIR}/kelmem OPTIONAL)
endif()
kelmem_changelog()
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelmem)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "kelmem maintainers <maintainers@users.noreply.c-seed-c8135325.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "simulator of an operating system's memory manager")
# The extended description; CPack indents each line, and "." stands for an
# empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kelmem runs scripts against one simulated main memory of 1000 cells with
ten process slots: it loads program images as processes, stores values into
their segments, prints the process table and memory, and terminates
processes, printing exactly what the memory manager does.
.
kelmem-view runs the same scripts and shows the run as a text map of
memory, a JSON Lines trace or a self-contained web page.
.
kelmem-check runs another implementation of the same memory manager and
kelmem on many generated cases, or on a teacher's suite, and shows each kind
of difference shrunk to a few lines; it writes JUnit XML and Gradescope
reports for grading.
.
Meant for teaching operating-systems courses.")
include(CPack)
