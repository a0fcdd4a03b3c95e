# add_fuzz_target(NAME SOURCES file... LIBRARIES target... [INCLUDES dir...]
#                 [DEFINITIONS def...] [SECONDS n])
#
# One libFuzzer entry point. With MERKANIX_FUZZ (clang) it is a real fuzzer
# that CTest runs for SECONDS (default 20) over a scratch corpus seeded from
# tests/fuzz/corpus/NAME; otherwise a small driver replays that corpus and a
# fixed stream of mutations, so every build exercises the target.
function(add_fuzz_target name)
  cmake_parse_arguments(FUZZ "" "SECONDS" "SOURCES;LIBRARIES;INCLUDES;DEFINITIONS" ${ARGN})
  if(NOT FUZZ_SECONDS)
    set(FUZZ_SECONDS 20)
  endif()
  set(fuzz_dir ${CMAKE_SOURCE_DIR}/tests/fuzz)
  set(corpus ${fuzz_dir}/corpus/${name})
  add_executable(${name} ${FUZZ_SOURCES})
  target_link_libraries(${name} PRIVATE ${FUZZ_LIBRARIES})
  target_include_directories(${name} PRIVATE ${fuzz_dir} ${FUZZ_INCLUDES})
  target_compile_definitions(${name} PRIVATE ${FUZZ_DEFINITIONS})
  if(MERKANIX_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    file(MAKE_DIRECTORY ${scratch})
    add_test(NAME ${name}
      COMMAND ${name} -max_total_time=${FUZZ_SECONDS} -seed=1 -rss_limit_mb=2048 -timeout=10
              ${scratch} ${corpus})
  else()
    target_sources(${name} PRIVATE ${fuzz_dir}/ReplayDriver.cpp)
    add_test(NAME ${name} COMMAND ${name} ${corpus})
  endif()
endfunction()
