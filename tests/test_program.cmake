# What every test program is made of, in the Linux and the Windows build:
# every *.cpp under tests/<name>/ plus EXTRA sources and the shared support
# code, linked with DEPS and GoogleTest, told where the streams and the
# command-line program are. Makes no target when tests/<name>/ has no sources.
set(KELVOR_FIXTURE_DIR ${PROJECT_SOURCE_DIR}/build/fixtures CACHE PATH "Generated test streams")
set(KELVOR_PUBLIC_SAMPLES ${CMAKE_CURRENT_SOURCE_DIR}/samples/public)

function(kelvor_test_program name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources} ${ARG_EXTRA} ${CMAKE_CURRENT_SOURCE_DIR}/support/test_support.cpp)
  target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main kelvor_warnings)
  target_compile_definitions(${name}_tests PRIVATE
    KELVOR_FIXTURE_DIR="${KELVOR_FIXTURE_DIR}"
    KELVOR_PUBLIC_SAMPLES="${KELVOR_PUBLIC_SAMPLES}"
    KELVOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KELVOR_CLI="$<TARGET_FILE:kelvor-cli>")
endfunction()
