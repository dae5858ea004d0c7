# Read by cpack before it builds a package. The Debian package's Depends: what dpkg-shlibdeps
# finds the programs and liborvel link, and libedit2, which tesmar opens at run time where
# dpkg-shlibdeps cannot see it. Asked to run dpkg-shlibdeps itself, CPack would also give the
# package postinst and postrm scripts that run ldconfig for liborvel, which no program finds
# through ldconfig's cache; and a postrm keeps a removed package listed as "rc" until it is
# purged.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(SHLIBDEPS dpkg-shlibdeps)
if(NOT SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is missing (Debian: dpkg-dev)")
endif()
# dpkg-shlibdeps wants a debian/control beside it, though it reads nothing from it here.
set(work ${CPACK_PACKAGE_DIRECTORY}/shlibdeps)
file(MAKE_DIRECTORY ${work}/debian)
file(TOUCH ${work}/debian/control)
include(${CPACK_TESMAR_ELF_FILES})
# liborvel is the package's own, so it has no dependency information to find.
execute_process(
  COMMAND ${SHLIBDEPS} -O --ignore-missing-info -l${private_library_dir} ${elf_files}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
file(REMOVE_RECURSE ${work})
if(NOT status EQUAL 0 OR NOT found MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, libedit2")
