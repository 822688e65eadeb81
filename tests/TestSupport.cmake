# What the end-to-end tests, the transcript programs and the benchmarks share: the scripted test
# host and the loopback test client, compiled once for each public class (libframeyard's, and
# libframeyard-rt's with FRAMEYARD_TEST_REALTIME_ONLY) instead of once for every program that
# uses them. Object libraries, so that the library a program links (the shared one, or the static
# layers) resolves what they call, whichever it is.
set(test_support_includes "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/server/include"
                          "${PROJECT_SOURCE_DIR}/client/include")

# The descriptor count the tests compare with is the simulated host's own.
add_library(fy_process_stats OBJECT "${PROJECT_SOURCE_DIR}/tools/frameyard-simhost/process_stats.cpp")
target_include_directories(fy_process_stats PUBLIC "${PROJECT_SOURCE_DIR}")

foreach(variant IN ITEMS "" "_rt")
  add_library(fy_test_client${variant} OBJECT "${PROJECT_SOURCE_DIR}/tests/test_client.cpp")
  add_library(fy_test_host${variant} OBJECT "${PROJECT_SOURCE_DIR}/tests/test_host.cpp")
  foreach(part IN ITEMS fy_test_client${variant} fy_test_host${variant})
    target_include_directories(${part} PUBLIC ${test_support_includes})
    if(variant STREQUAL "_rt")
      target_compile_definitions(${part} PUBLIC FRAMEYARD_TEST_REALTIME_ONLY)
    endif()
  endforeach()
endforeach()
