# Link-time optimisation of the shared libraries. The event pump's idle turn and a frame's way
# from the host to the sockets are chains of short calls through the layers, each layer a static
# library of its own; optimising the shared libraries across those layers at their link removes
# the calls where the compiler sees fit, without pulling the layers' code into headers.
#
# The layers' objects carry both machine code and the compiler's intermediate form ("fat"
# objects): the test programs, tools and benchmarks that link the layers directly use the
# machine code as they always did; only the two server libraries, which hosts link, are
# optimised as a whole (the client library is left as it is). g++ in optimised builds only: this
# tree's clang writes no fat objects, and the sanitizer and debug trees check behaviour, not speed.
option(FRAMEYARD_LTO "Optimise the shared libraries across the layers at link time (g++, optimised builds)" ON)

set(frameyard_lto OFF)
if(FRAMEYARD_LTO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$"
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  include(CheckIPOSupported)
  check_ipo_supported(RESULT frameyard_lto_supported OUTPUT frameyard_lto_why LANGUAGES CXX)
  if(frameyard_lto_supported)
    set(frameyard_lto ON)
  else()
    message(STATUS "frameyard: no link-time optimisation (${frameyard_lto_why})")
  endif()
endif()

# A layer's static library: fat objects, archived with the compiler's archiver so that the
# shared libraries' link finds their intermediate form.
function(frameyard_lto_layer target)
  if(frameyard_lto)
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
    target_compile_options(${target} PRIVATE -ffat-lto-objects)
  endif()
endfunction()

# A server shared library, optimised across every layer it links. The source of its public
# class's operations stays out of it: that class's vtable and type information are part of the
# exported interface, and g++ turns a class's shared vtable into a library-local copy when it
# optimises at link time. The public class's entry calls are then ordinary calls into the
# optimised layers.
function(frameyard_lto_server_library target public_class_source)
  if(frameyard_lto)
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
    set_property(SOURCE ${public_class_source} APPEND PROPERTY COMPILE_OPTIONS -fno-lto)
  endif()
endfunction()
