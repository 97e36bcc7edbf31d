# Test files left out of Windows builds (paths from the source root), each for the
# reason given beside it; every other test builds and runs there.
set(ZEMLIK_POSIX_ONLY_TESTS
  # Drives the Windows build under wine from the Linux side.
  tests/windows_parity_test.cpp
)

# zemlik_folder_library(NAME DIR [LINKS lib...] [TEST_LINKS lib...]
#                       [EXCLUDE file...] [SOURCES path...] [TEST_EXCLUDE file...])
# Builds every *.cpp of DIR that is not a *_test.cpp into the static library NAME,
# together with SOURCES, and every *_test.cpp of DIR into NAME_tests, registered with
# CTest. EXCLUDE and TEST_EXCLUDE name files of DIR to leave out.
function(zemlik_folder_library name dir)
  cmake_parse_arguments(ARG "" "" "LINKS;EXCLUDE;TEST_LINKS;SOURCES;TEST_EXCLUDE" ${ARGN})
  file(GLOB _all CONFIGURE_DEPENDS "${dir}/*.cpp")
  set(_src "")
  set(_tests "")
  foreach(f IN LISTS _all)
    get_filename_component(_n "${f}" NAME)
    if(_n MATCHES "_test\\.cpp$")
      file(RELATIVE_PATH _rel "${PROJECT_SOURCE_DIR}" "${f}")
      if(NOT _n IN_LIST ARG_TEST_EXCLUDE AND NOT (WIN32 AND _rel IN_LIST ZEMLIK_POSIX_ONLY_TESTS))
        list(APPEND _tests "${f}")
      endif()
    elseif(NOT _n IN_LIST ARG_EXCLUDE)
      list(APPEND _src "${f}")
    endif()
  endforeach()
  list(APPEND _src ${ARG_SOURCES})
  if(_src)
    add_library(${name} STATIC ${_src})
  else()
    add_library(${name} INTERFACE)
  endif()
  if(_src)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  else()
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_LINKS})
  endif()
  if(ZEMLIK_BUILD_TESTS AND _tests)
    add_executable(${name}_tests ${_tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_LINKS} zemlik_testsupport GTest::gtest GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
  endif()
endfunction()
