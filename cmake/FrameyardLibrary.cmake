# frameyard_shared_library(NAME <target> [OUTPUT <file name>] HEADER <public header> MAP <version script>
#                          OBJECTS <layer targets whose objects go in> LINK <archives>
#                          OPERATIONS <the public class's operations, as nm -C prints them>
#                          [SOVERSION <major>] DESCRIPTION <text>
#                          [INCLUDE_DIR <dir>] [HEADER_DIR <dir>] [EXPORT_PREFIX <name::>]
#                          [HEADER_STD <c++NN>])
# One deliverable: a shared library whose only exported interface is its public class, built
# from the objects of the given layer targets (so that the version script decides about every
# symbol they define) with the lower layers linked in from their archives. It comes with its
# exports test, its pkg-config file, its installed header and its target in the CMake package.
# A library with a namespace of public classes (the client library) names that namespace as
# EXPORT_PREFIX, its include root as INCLUDE_DIR and its folder of headers as HEADER_DIR.
include(CMakePackageConfigHelpers)

set(frameyard_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/frameyard")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(frameyard_pc_libdir "${CMAKE_INSTALL_LIBDIR}")
else()
  set(frameyard_pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(frameyard_pc_includedir "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(frameyard_pc_includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()

# A const std::string& parameter as nm -C prints it (libstdc++'s C++11 string), for OPERATIONS.
set(frameyard_string_parameter "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&")

function(frameyard_shared_library)
  cmake_parse_arguments(ARG "" "NAME;OUTPUT;HEADER;MAP;SOVERSION;DESCRIPTION;INCLUDE_DIR;HEADER_DIR;EXPORT_PREFIX;HEADER_STD"
                        "OBJECTS;LINK;OPERATIONS" ${ARGN})
  if(NOT ARG_INCLUDE_DIR)
    set(ARG_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/server/include")
  endif()
  if(NOT ARG_OUTPUT)
    set(ARG_OUTPUT ${ARG_NAME})
  endif()
  if(NOT ARG_HEADER_STD)
    set(ARG_HEADER_STD c++11)
  endif()
  set(name ${ARG_NAME})
  set(objects "")
  foreach(layer IN LISTS ARG_OBJECTS)
    list(APPEND objects "$<TARGET_OBJECTS:${layer}>")
  endforeach()

  add_library(${name} SHARED ${objects})
  add_library(frameyard::${name} ALIAS ${name})
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
  target_include_directories(${name} INTERFACE
    "$<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>"
    "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  set_target_properties(${name} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS "${ARG_MAP}")
  if(ARG_SOVERSION)
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ARG_SOVERSION})
    set(soname "lib${ARG_OUTPUT}.so.${ARG_SOVERSION}")
  else()
    # Without this CMake would still give the library its own file name as SONAME.
    set_target_properties(${name} PROPERTIES NO_SONAME ON)
    set(soname "")
  endif()

  # Hidden visibility keeps our own code private; the version script also keeps private the
  # standard-library template instances the objects carry, which would otherwise be exported
  # as weak default-visibility symbols.
  target_link_options(${name} PRIVATE "LINKER:--version-script=${ARG_MAP}" "LINKER:--exclude-libs,ALL")
  # Sanitizer runtimes are resolved by the executable, not by the library.
  if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS}" MATCHES "-fsanitize")
    target_link_options(${name} PRIVATE "LINKER:--no-undefined")
  endif()

  install(TARGETS ${name} EXPORT ${name}Targets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${ARG_HEADER}" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/frameyard")
  if(ARG_HEADER_DIR)
    install(DIRECTORY "${ARG_HEADER_DIR}" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/frameyard")
  endif()
  install(EXPORT ${name}Targets NAMESPACE frameyard:: DESTINATION "${frameyard_cmake_dir}")

  set(pc_name ${ARG_OUTPUT})
  set(pc_description "${ARG_DESCRIPTION}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/frameyard.pc.in" "${CMAKE_CURRENT_BINARY_DIR}/${ARG_OUTPUT}.pc" @ONLY)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${ARG_OUTPUT}.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

  if(FRAMEYARD_BUILD_TESTS)
    # A list would be split into arguments on its way to the script.
    string(REPLACE ";" "|" operations "${ARG_OPERATIONS}")
    # The library's dynamic interface: SONAME, system-only dependencies, the public class alone.
    add_test(NAME ${name}_exports
      COMMAND "${CMAKE_COMMAND}" "-DLIBRARY=$<TARGET_FILE:${name}>" "-DNM=${CMAKE_NM}"
              "-DREADELF=${CMAKE_READELF}" "-DSONAME=${soname}" "-DOPERATIONS=${operations}"
              "-DPREFIX=${ARG_EXPORT_PREFIX}"
              -P "${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake")
    # Hosts are often old code bases: the public header stands alone as C++11, warning-free
    # (client headers as C++17).
    string(REPLACE "c++" "cxx" standard "${ARG_HEADER_STD}")
    add_test(NAME ${name}_header_${standard}
      COMMAND "${CMAKE_CXX_COMPILER}" -std=${ARG_HEADER_STD} -fsyntax-only -Wall -Wextra -Wpedantic -Werror
              -I "${ARG_INCLUDE_DIR}" -include "${ARG_HEADER}" -x c++ /dev/null)
  endif()
endfunction()

# The package file, once for every library of the package.
function(frameyard_package)
  configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/frameyardConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/frameyardConfig.cmake"
    INSTALL_DESTINATION "${frameyard_cmake_dir}")
  write_basic_package_version_file("${PROJECT_BINARY_DIR}/frameyardConfigVersion.cmake"
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES "${PROJECT_BINARY_DIR}/frameyardConfig.cmake" "${PROJECT_BINARY_DIR}/frameyardConfigVersion.cmake"
          DESTINATION "${frameyard_cmake_dir}")
endfunction()
