# Runs one libFuzzer target for a bounded time on a working copy of its
# corpus (the corpus in the repo stays as it is) and fails if the fuzzer
# finds a crash or a mismatch with the reference model.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(
    COMMAND ${FUZZER} ${WORK} ${CORPUS} -max_total_time=${SECONDS} -print_final_stats=1
            -artifact_prefix=${WORK}/
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}")
endif()
