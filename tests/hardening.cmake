# Hardening: the LV2 fuzz driver, the real-time call counter, and builds of
# the engine and its tests under the sanitizers.
#
#   cmake -B build-asan -DZT_SANITIZE=address   # address, undefined behaviour, float-to-int overflow
#   cmake -B build-tsan -DZT_SANITIZE=thread
#
# A sanitizer build runs the unit, fuzz and host-level tests; the checks of
# the shipped binary (its needed libraries, memcheck, the call counter) only
# make sense without a sanitizer runtime and are left out there, and host
# tests that hand the binary to an uninstrumented host program cannot load
# it (tests/run-sanitizers.sh leaves those out).
set(ZT_SANITIZE "" CACHE STRING "Sanitizers for the engine and the tests: address (with undefined) or thread")
set_property(CACHE ZT_SANITIZE PROPERTY STRINGS "" address thread)

if(ZT_SANITIZE STREQUAL "address")
  set(ZT_SANITIZER_FLAGS -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
elseif(ZT_SANITIZE STREQUAL "thread")
  set(ZT_SANITIZER_FLAGS -fsanitize=thread)
elseif(ZT_SANITIZE)
  message(FATAL_ERROR "ZT_SANITIZE must be empty, address or thread, not ${ZT_SANITIZE}")
endif()

# The seeded fuzz driver: instances driven through lv2_descriptor() with
# arbitrary port values, block sizes, reconnections and interleavings.
# ZT_FUZZ_ITERATIONS and ZT_FUZZ_SEED in the environment set a longer run.
file(GLOB ZT_FUZZ_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fuzz/*_test.cpp)
add_executable(zt_fuzz_tests ${ZT_FUZZ_TEST_SOURCES} ${ZT_PRIVATE_LOG_PATH})
target_include_directories(zt_fuzz_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zt_fuzz_tests PRIVATE zt_engine GTest::gtest GTest::gtest_main)
target_compile_options(zt_fuzz_tests PRIVATE -Wall -Wextra)
if(ZT_SANITIZE)
  # About 0.3 s an iteration under the address sanitizer on the development
  # machine: a longer search is a run of its own (see fuzz/lv2_fuzz_test.cpp).
  set(ZT_FUZZ_ITERATIONS 400 CACHE STRING "Fuzz iterations the test suite runs")
else()
  set(ZT_FUZZ_ITERATIONS 300 CACHE STRING "Fuzz iterations the test suite runs")
endif()
gtest_discover_tests(zt_fuzz_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 1200 ENVIRONMENT "ZT_FUZZ_ITERATIONS=${ZT_FUZZ_ITERATIONS};ZT_FUZZ_SEED=1")

# The same driver under libFuzzer, steered by coverage (clang only).
option(ZT_LIBFUZZER "Build the libFuzzer target zt_libfuzzer (needs clang)" OFF)
if(ZT_LIBFUZZER)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ZT_LIBFUZZER needs clang: configure with CC=clang CXX=clang++")
  endif()
  target_compile_options(zt_objects PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(zt_libfuzzer ${CMAKE_CURRENT_LIST_DIR}/fuzz/lv2_fuzz_target.cpp ${ZT_PRIVATE_LOG_PATH})
  target_include_directories(zt_libfuzzer PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(zt_libfuzzer PRIVATE zt_engine)
  target_compile_options(zt_libfuzzer PRIVATE -fsanitize=fuzzer)
  target_link_options(zt_libfuzzer PRIVATE -fsanitize=fuzzer)
endif()

set(ZT_SANITIZED_TARGETS zt_objects zt_mono_entry zt_stereo_entry zt_engine zulvamoret-tarnwise
  zulvamoret-tarnwise-stereo zt_unit_tests zt_host_tests zt_fuzz_tests
  zt_libfuzzer)

if(ZT_SANITIZE)
  foreach(target IN LISTS ZT_SANITIZED_TARGETS)
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE ${ZT_SANITIZER_FLAGS})
      get_target_property(type ${target} TYPE)
      if(NOT type STREQUAL "OBJECT_LIBRARY")
        target_link_options(${target} PRIVATE ${ZT_SANITIZER_FLAGS})
      endif()
    endif()
  endforeach()
  # The static library's users take the runtime the engine's objects need.
  target_link_options(zt_engine INTERFACE ${ZT_SANITIZER_FLAGS})
  # The checks of the shipped binaries, their sources, their metadata and
  # their installation run in the plain build; they exercise no code a
  # sanitizer watches.
  foreach(test zulvamoret-tarnwise_exports_and_needs zulvamoret-tarnwise-stereo_exports_and_needs
      host_tests_under_valgrind install_gives_a_loadable_bundle_with_presets lv2_validate_bundle
      vector_kernels_define_only_their_entry_points source_layers_include_only_downward)
    if(TEST ${test})
      set_tests_properties(${test} PROPERTIES DISABLED TRUE)
    endif()
  endforeach()
else()
  # run() under the call counter and a seccomp filter, on the binary a host
  # loads. The executable defines malloc and the others itself, so it cannot
  # share a process with a sanitizer runtime.
  file(GLOB ZT_RTCHECK_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/rtcheck/*.cpp)
  add_executable(zt_rtcheck_tests ${ZT_RTCHECK_SOURCES})
  target_include_directories(zt_rtcheck_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(zt_rtcheck_tests PRIVATE PkgConfig::LV2 GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
  target_compile_options(zt_rtcheck_tests PRIVATE -Wall -Wextra -fno-builtin)
  target_compile_definitions(zt_rtcheck_tests PRIVATE ZT_PLUGIN_BINARY="$<TARGET_FILE:zulvamoret-tarnwise>"
    ZT_STEREO_PLUGIN_BINARY="$<TARGET_FILE:zulvamoret-tarnwise-stereo>")
  set_target_properties(zt_rtcheck_tests PROPERTIES ENABLE_EXPORTS ON)
  add_dependencies(zt_rtcheck_tests zulvamoret-tarnwise zulvamoret-tarnwise-stereo)
  gtest_discover_tests(zt_rtcheck_tests DISCOVERY_TIMEOUT 60)

  # Under memcheck: the counted runs and the instantiate that runs out of
  # memory (valgrind leaves the test's own malloc in place and tracks the
  # glibc calls it forwards to), and a short fuzz run for reads of memory
  # that was never written, which the address sanitizer does not see.
  if(ZT_VALGRIND)
    set(ZT_MEMCHECK ${ZT_VALGRIND} --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite)
    add_test(NAME rtcheck_under_valgrind
      COMMAND ${ZT_MEMCHECK} --soname-synonyms=somalloc=nouserintercepts
        $<TARGET_FILE:zt_rtcheck_tests> --gtest_filter=-*.RunMakesNoSystemCall/*)
    add_test(NAME fuzz_under_valgrind COMMAND ${ZT_MEMCHECK} $<TARGET_FILE:zt_fuzz_tests>)
    set_tests_properties(fuzz_under_valgrind PROPERTIES ENVIRONMENT "ZT_FUZZ_ITERATIONS=30;ZT_FUZZ_SEED=2" TIMEOUT 900)
  endif()
endif()
