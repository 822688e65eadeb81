# frameyard_test_program(<target>): what every GoogleTest program of the tree shares; the two
# options below save CI most of the compile time of the test programs.
#
# FRAMEYARD_TEST_PCH: nearly every test source includes gtest/gmock, whose headers cost each
# translation unit more to parse than many tests take to compile; they are precompiled once per
# tree, in fy_test_pch, and every test program reuses that header. Off by default: g++ 12 at -O2
# with the precompiled header reports -Warray-bounds false positives inside std::string in
# several test files, so the optimised g++ tree parses the headers in each file.
#
# FRAMEYARD_UNITY_TESTS: a test program's test files are compiled in batches, which also shares
# the instantiations of the framework's templates between the files of a batch. Off by default:
# a batch can hide an include that a file lacks, which a developer's build should show. The code
# under test that a program compiles itself is left out of the batches. Where test files define
# helpers of the same names, their program says so where it is defined: it groups its files
# (UNITY_BUILD_MODE GROUP) or leaves some alone (SKIP_UNITY_BUILD_INCLUSION).
option(FRAMEYARD_TEST_PCH "Precompile gtest/gmock once for every test program" OFF)
option(FRAMEYARD_UNITY_TESTS "Compile each test program's sources in batches" OFF)
set(FRAMEYARD_UNITY_BATCH_SIZE 8 CACHE STRING "Test sources per batch with FRAMEYARD_UNITY_TESTS")

if(FRAMEYARD_TEST_PCH)
  set(frameyard_test_pch_source "${CMAKE_BINARY_DIR}/fy_test_pch.cpp")
  file(CONFIGURE OUTPUT "${frameyard_test_pch_source}" CONTENT "// The anchor of the test programs' precompiled header.\n")
  add_library(fy_test_pch OBJECT "${frameyard_test_pch_source}")
  target_link_libraries(fy_test_pch PRIVATE GTest::gmock)
  target_precompile_headers(fy_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  # Compiled as the programs' own sources are (position-independent code for an executable):
  # a header built with other options would not be used.
  set_target_properties(fy_test_pch PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  target_compile_options(fy_test_pch PRIVATE -fPIE)
endif()

function(frameyard_test_program target)
  if(FRAMEYARD_TEST_PCH)
    target_precompile_headers(${target} REUSE_FROM fy_test_pch)
  endif()
  if(FRAMEYARD_UNITY_TESTS)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON
                                               UNITY_BUILD_BATCH_SIZE ${FRAMEYARD_UNITY_BATCH_SIZE})
    get_target_property(sources ${target} SOURCES)
    foreach(source IN LISTS sources)
      if(NOT source MATCHES "_test\\.cpp$")
        set_source_files_properties(${source} TARGET_DIRECTORY ${target} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # In a batch the test files are included, and g++ then warns of every fixture in a file's
      # anonymous namespace that a test derives from, as it would of one in a header; a file
      # compiled alone is the main file, where the warning does not arise.
      target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
    endif()
  endif()
endfunction()
