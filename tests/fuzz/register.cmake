# Runs each fuzz target of the sanitizer build for a bounded time from its seed corpus.
foreach(target payload config expand utf8 message arguments instances)
  add_test(NAME fuzz_${target}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run-fuzzer.sh ${VXO_SAN_BUILD}/tests/fuzz/fuzz_${target}
            ${CMAKE_CURRENT_LIST_DIR}/corpus/${target} 20)
endforeach()
