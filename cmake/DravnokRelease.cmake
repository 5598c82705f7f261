# <build>/release: what a Windows user gets, the three programs stripped of
# their debug information and a README.txt, alone in one folder.
set(_release ${CMAKE_BINARY_DIR}/release)
set(_release_files)
foreach(_program remote-agent remote-helper dravnok-input-relay)
  set(_copy ${_release}/${_program}.exe)
  add_custom_command(
    OUTPUT ${_copy}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_release}
    COMMAND ${CMAKE_STRIP} -o ${_copy} $<TARGET_FILE:${_program}>
    DEPENDS ${_program}
    COMMENT "Release folder: ${_program}.exe" VERBATIM)
  list(APPEND _release_files ${_copy})
endforeach()
# Windows' own editors want CR LF.
configure_file(${PROJECT_SOURCE_DIR}/docs/windows-release-README.txt ${_release}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
add_custom_target(release ALL DEPENDS ${_release_files})
if(DRAVNOK_BUILD_TESTS)
  add_test(NAME release_system_dlls COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/agent/system_dlls_test.py
                                            ${CMAKE_OBJDUMP} ${_release_files})
  set_tests_properties(release_system_dlls PROPERTIES LABELS program)
endif()
