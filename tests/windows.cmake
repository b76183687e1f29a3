# The cross-built Windows test programs: the core's suites only, each run
# whole under wine by ctest (one wine start per program, not per test). GoogleTest is compiled from Debian's googletest sources with the
# cross compiler. Streams are the ones generated on the host.
set(KELVOR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${KELVOR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Tests that start ffmpeg, ffprobe or other host programs cannot do so from
# inside wine; they run in the Linux build.
set(KELVOR_HOST_TOOL_TESTS "*PeerComparison*:*DecodeLikeFfmpeg*:FoldToStereo.LfeEntersTenDecibelsBelowItsChannel:\
SyntheticSpectralExtension.NoiseKeepsTheBandEnergy:DecodeAc3Command.*:MuxPeer.*")

function(kelvor_windows_suite name)
  kelvor_test_program(${name} ${ARGN})
  add_test(NAME ${name}_tests COMMAND ${name}_tests --gtest_brief=1 --gtest_filter=-${KELVOR_HOST_TOOL_TESTS})
  set_tests_properties(${name}_tests PROPERTIES TIMEOUT 600)
endfunction()

kelvor_windows_suite(io DEPS kelvor_io)
kelvor_windows_suite(scan DEPS kelvor_scan)
kelvor_windows_suite(ac3dec DEPS kelvor_ac3dec kelvor_io
  EXTRA ${PROJECT_SOURCE_DIR}/src/cli/private_track.cpp ${PROJECT_SOURCE_DIR}/src/cli/file_checks.cpp
  ${PROJECT_SOURCE_DIR}/src/cli/audio_command_input.cpp ${PROJECT_SOURCE_DIR}/src/cli/interrupt_win.cpp)
kelvor_windows_suite(mux DEPS kelvor_mux kelvor_convert)
kelvor_windows_suite(convert DEPS kelvor_convert)
add_custom_target(kelvor_windows_tests DEPENDS io_tests scan_tests ac3dec_tests mux_tests convert_tests)

# Drives kelvor.exe through its windows (tests/app_win32/desktop_windows.sh).
add_executable(kelvor_gui_driver ${CMAKE_CURRENT_SOURCE_DIR}/app_win32/gui_driver.cpp)
target_link_libraries(kelvor_gui_driver PRIVATE kelvor_common kelvor_warnings)
target_compile_definitions(kelvor_gui_driver PRIVATE UNICODE _UNICODE)
target_link_options(kelvor_gui_driver PRIVATE -municode)
