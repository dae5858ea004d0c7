# Debian package of tesmar: `cpack -G DEB` in the build folder gives
# tesmar_<version>-<release>_<arch>.deb.
set(CPACK_PACKAGE_NAME tesmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "tesmar developers")
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "tesmar developers <tesmar@example.org>")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive command-line Modbus master")
# CPack puts the summary on the first line and indents these paragraphs itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tesmar opens one Modbus bus, a TCP client or an RTU master on a serial
device, and reads commands at a prompt: read holding or input registers
and show them as a hex dump with 16-bit, 32-bit and float views, write
holding registers, and keep slave, address, function code and length
from one command to the next.

The package also holds tesmar-sim, a small Modbus slave with preset
registers and fault modes for trying tesmar out.")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The build keeps its debug information; the package ships stripped binaries as Debian does.
set(CPACK_STRIP_FILES ON)
# Depends is worked out when cpack runs, from the programs and the library as built here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageDepends.cmake)
set(CPACK_TESMAR_ELF_FILES ${PROJECT_BINARY_DIR}/packaged_elf_files.cmake)
file(GENERATE OUTPUT ${CPACK_TESMAR_ELF_FILES} CONTENT "\
set(elf_files $<TARGET_FILE:tesmar> $<TARGET_FILE:tesmar-sim> $<TARGET_FILE:orvel>)
set(private_library_dir $<TARGET_FILE_DIR:orvel>)
")

# The licence is the package's copyright file; Debian wants a changelog beside it, gzipped.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tesmar)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir} RENAME copyright)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tesmar)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${PROJECT_BINARY_DIR}/changelog.Debian @ONLY)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_BINARY_DIR}/changelog.Debian > changelog.Debian.gz
    DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    VERBATIM)
  add_custom_target(tesmar_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${doc_dir})
endif()

include(CPack)
