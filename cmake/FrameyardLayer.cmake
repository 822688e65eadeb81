# One layer of the library per folder: every foo.cpp beside the CMakeLists goes into the
# static library fy_<layer>, every foo_test.cpp into the test program <layer>_tests.
# Sources are globbed so that adding a file pair needs no build-file edit; with RECURSE the
# layer's subfolders (one per protocol, say) are part of it too.
function(frameyard_layer layer)
  cmake_parse_arguments(ARG "RECURSE" "" "DEPENDS" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  else()
    file(GLOB all_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  endif()
  set(lib_sources "")
  set(test_sources "")
  foreach(src IN LISTS all_sources)
    if(src MATCHES "_test\\.cpp$")
      list(APPEND test_sources "${src}")
    else()
      list(APPEND lib_sources "${src}")
    endif()
  endforeach()

  if(lib_sources)
    add_library(fy_${layer} STATIC ${lib_sources})
    target_include_directories(fy_${layer} PUBLIC "${PROJECT_SOURCE_DIR}"
                                                   "${PROJECT_SOURCE_DIR}/server/include")
    target_link_libraries(fy_${layer} PUBLIC ${ARG_DEPENDS})
    frameyard_lto_layer(fy_${layer})
  else()
    add_library(fy_${layer} INTERFACE)
    target_include_directories(fy_${layer} INTERFACE "${PROJECT_SOURCE_DIR}"
                                                      "${PROJECT_SOURCE_DIR}/server/include")
    target_link_libraries(fy_${layer} INTERFACE ${ARG_DEPENDS})
  endif()

  if(FRAMEYARD_BUILD_TESTS AND test_sources)
    add_executable(${layer}_tests ${test_sources})
    target_link_libraries(${layer}_tests PRIVATE fy_${layer} GTest::gmock GTest::gtest_main)
    frameyard_test_program(${layer}_tests)
    gtest_discover_tests(${layer}_tests DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
