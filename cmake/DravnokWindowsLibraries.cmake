# The Windows cross-build's own libraries (OpenSSL, libsrtp2, usrsctp, libnice
# with GLib, OpenH264), built from Debian's source packages by
# scripts/win-deps.sh and found through their pkg-config files. The first
# configure on a machine builds them (about ten minutes); later ones find them
# in ~/.cache at once.
set(DRAVNOK_WIN_DEPS "" CACHE PATH "Prefix of the cross-built Windows libraries (empty: build them)")
if(NOT DRAVNOK_WIN_DEPS)
  message(STATUS "Windows libraries: scripts/win-deps.sh (the first time on a machine takes about ten minutes)")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/win-deps.sh OUTPUT_VARIABLE _deps
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(DRAVNOK_WIN_DEPS ${_deps} CACHE PATH "Prefix of the cross-built Windows libraries (empty: build them)" FORCE)
endif()
message(STATUS "Windows libraries: ${DRAVNOK_WIN_DEPS}")
set(ENV{PKG_CONFIG_LIBDIR} ${DRAVNOK_WIN_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
find_package(PkgConfig REQUIRED)

# dravnok_static_package(<target> <module>...): an interface target that links
# the modules statically, with their headers as system ones (-Werror must not
# see their warnings).
function(dravnok_static_package target)
  pkg_check_modules(_${target} REQUIRED ${ARGN})
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${_${target}_STATIC_INCLUDE_DIRS})
  target_compile_options(${target} INTERFACE ${_${target}_STATIC_CFLAGS_OTHER})
  # As link items, so that they keep their order behind the static libraries
  # that need them.
  target_link_libraries(${target} INTERFACE ${_${target}_STATIC_LDFLAGS})
endfunction()
