# Instrumented builds for the hardening passes of `make test`.
#   SANITIZE=address  AddressSanitizer + UndefinedBehaviorSanitizer, halting at
#                     the first report (no recovery from UB checks).
#   SANITIZE=thread   ThreadSanitizer, for the module's parallel pair loop.
#   FUZZ=ON           libFuzzer targets (clang only): every library is
#                     instrumented for coverage, ASan and UBSan.
# Each mode belongs in a build directory of its own.

set(SANITIZE "" CACHE STRING "Instrument the build: address (ASan+UBSan) or thread (TSan)")
set_property(CACHE SANITIZE PROPERTY STRINGS "" address thread)
option(FUZZ "Build the libFuzzer targets under tests/fuzz (needs clang)" OFF)

set(_memory_checks -fsanitize=address,undefined -fno-sanitize-recover=all)

if(SANITIZE STREQUAL "address")
  add_compile_options(${_memory_checks} -fno-omit-frame-pointer)
  add_link_options(${_memory_checks})
elseif(SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT SANITIZE STREQUAL "")
  message(FATAL_ERROR "SANITIZE must be empty, 'address' or 'thread', not '${SANITIZE}'")
endif()

if(FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "FUZZ=ON needs clang (configure with CMAKE_CXX_COMPILER=clang++)")
  endif()
  if(NOT SANITIZE STREQUAL "")
    message(FATAL_ERROR "FUZZ=ON brings its own sanitizers; leave SANITIZE empty")
  endif()
  # Coverage instrumentation everywhere; only the fuzz targets link libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link ${_memory_checks} -fno-omit-frame-pointer)
  add_link_options(${_memory_checks})
endif()

# For code that is loaded into, or stands in for, programs that are not
# instrumented (a preloaded library, a link-time stand-in): the target keeps
# the project's other options but none of the instrumentation above.
function(leave_uninstrumented target)
  foreach(property COMPILE_OPTIONS LINK_OPTIONS)
    get_target_property(options ${target} ${property})
    if(options)
      list(FILTER options EXCLUDE REGEX "^-f(no-)?sanitize")
      set_target_properties(${target} PROPERTIES ${property} "${options}")
    endif()
  endforeach()
endfunction()
