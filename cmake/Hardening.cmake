# The distribution's hardening flags for every program and library: what dpkg-buildflags adds
# with every hardening feature on to what it gives with none (stack protector, _FORTIFY_SOURCE,
# format checks, relro, bindnow). Left out of sanitizer builds: fortified calls go round the
# sanitizers' own checks of the same calls.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS OR TESMAR_SANITIZE OR TESMAR_FUZZ)
  return()
endif()

# Sets result to the flags of one kind (CPPFLAGS, CXXFLAGS, LDFLAGS) that dpkg-buildflags gives
# with its hardening features set as hardening says (+all, -all).
function(tesmar_dpkg_buildflags hardening kind result)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=${hardening}
            ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${result} ${flags} PARENT_SCOPE)
endfunction()

foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  tesmar_dpkg_buildflags(+all ${kind} hardening_${kind})
  tesmar_dpkg_buildflags(-all ${kind} plain)
  if(plain)
    list(REMOVE_ITEM hardening_${kind} ${plain})
  endif()
endforeach()
set(shown ${hardening_CPPFLAGS} ${hardening_CXXFLAGS} ${hardening_LDFLAGS})
list(JOIN shown " " shown)
message(STATUS "Hardening flags from dpkg-buildflags: ${shown}")
# _FORTIFY_SOURCE works only on optimised code; glibc warns of it otherwise.
list(TRANSFORM hardening_CPPFLAGS PREPEND "$<$<NOT:$<CONFIG:Debug>>:")
list(TRANSFORM hardening_CPPFLAGS APPEND ">")
add_compile_options(${hardening_CPPFLAGS} ${hardening_CXXFLAGS})
add_link_options(${hardening_LDFLAGS})
