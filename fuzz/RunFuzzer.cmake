# One bounded fuzz run for CTest: cmake -DFUZZER=... -DSEEDS=... -DDICT=... -DMAX_LEN=...
#   -DWORK=... -DSECONDS=... [-DSEED_PATTERN=*.bin] -P RunFuzzer.cmake
#
# The fuzzer works on a fresh copy of the seed corpus in the build folder, because libFuzzer adds
# every new input it finds to its corpus folder and the source tree must stay clean. libFuzzer
# exits with a non-zero status on a crash, a sanitizer report, a leak, a slow input or running
# out of memory; the input that did it is kept in WORK/artifacts.

foreach(var FUZZER SEEDS DICT MAX_LEN WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunFuzzer.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
if(NOT DEFINED SEED_PATTERN)
  set(SEED_PATTERN "*.bin")
endif()
file(GLOB seeds ${SEEDS}/${SEED_PATTERN})
if(NOT seeds)
  message(FATAL_ERROR "no seed inputs in ${SEEDS}")
endif()
file(COPY ${seeds} DESTINATION ${WORK}/corpus)

execute_process(
  COMMAND ${FUZZER}
    -max_total_time=${SECONDS}
    -rss_limit_mb=2048
    -timeout=10
    -max_len=${MAX_LEN}
    -dict=${DICT}
    -artifact_prefix=${WORK}/artifacts/
    -print_final_stats=1
    ${WORK}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}/artifacts")
endif()
