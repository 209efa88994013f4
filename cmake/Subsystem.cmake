# ulvarond_library(<name> <sources...>): the static library of the calling
# subsystem folder. It exports only its own headers: the build tree holds
# include/<name>/<folder> as a link to the folder, so "<folder>/x.h" resolves
# only in targets that link the library, and a lower subsystem cannot include
# a higher one.
function(ulvarond_library name)
  add_library(${name} STATIC ${ARGN})
  file(RELATIVE_PATH _rel "${CMAKE_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  set(_root "${CMAKE_BINARY_DIR}/include/${name}")
  get_filename_component(_parent "${_root}/${_rel}" DIRECTORY)
  file(MAKE_DIRECTORY "${_parent}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${_root}/${_rel}" SYMBOLIC)
  target_include_directories(${name} PUBLIC "${_root}")
endfunction()

# ulvarond_tests(<name> <libs...>): one GoogleTest binary from the
# tests/*_test.cpp files of the calling directory, registered with ctest.
function(ulvarond_tests name)
  if(NOT ULVAROND_TESTS)
    return()
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp")
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# ulvarond_fuzzer(<name> <source> <libs...>): a libFuzzer target, built only
# with ULVAROND_FUZZ. Its seed corpus lives in fuzz/<name>/ beside the source;
# tools/run-fuzz runs every target for a bounded time.
function(ulvarond_fuzzer name source)
  if(NOT ULVAROND_FUZZ)
    return()
  endif()
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARGN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY ULVAROND_FUZZERS "${name}=${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}")
endfunction()

# ulvarond_benchmarks(<name> <libs...>): one Google Benchmark binary from the
# bench/*_bench.cpp files of the calling directory (built, never run by ctest).
function(ulvarond_benchmarks name)
  if(NOT ULVAROND_BENCHMARKS)
    return()
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/bench/*_bench.cpp")
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} benchmark::benchmark benchmark::benchmark_main)
endfunction()
