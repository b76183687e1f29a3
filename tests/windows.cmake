# The cross-built Windows test programs: the core's suites only, each run
# whole under wine by ctest (one wine start per program, not per test). GoogleTest is compiled from Debian's googletest sources with the
# cross compiler. Streams are the ones generated on the host.
set(KELVOR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${KELVOR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(KELVOR_FIXTURE_DIR ${PROJECT_SOURCE_DIR}/build/fixtures CACHE PATH "Generated test streams")
set(KELVOR_PUBLIC_SAMPLES ${CMAKE_CURRENT_SOURCE_DIR}/samples/public)

# Tests that start ffmpeg, ffprobe or other host programs cannot do so from
# inside wine; they run in the Linux build.
set(KELVOR_HOST_TOOL_TESTS "*PeerComparison*:*DecodeLikeFfmpeg*:FoldToStereo.LfeEntersTenDecibelsBelowItsChannel:\
SyntheticSpectralExtension.NoiseKeepsTheBandEnergy:DecodeAc3Command.*:MuxPeer.*")

function(kelvor_windows_suite name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  add_executable(${name}_tests ${sources} ${ARG_EXTRA} ${CMAKE_CURRENT_SOURCE_DIR}/support/test_support.cpp)
  target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main kelvor_warnings)
  target_compile_definitions(${name}_tests PRIVATE
    KELVOR_FIXTURE_DIR="${KELVOR_FIXTURE_DIR}"
    KELVOR_PUBLIC_SAMPLES="${KELVOR_PUBLIC_SAMPLES}"
    KELVOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KELVOR_CLI="$<TARGET_FILE:kelvor-cli>")
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
