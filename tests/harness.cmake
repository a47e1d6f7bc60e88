zvx_add_wine_test(NAME harness_tests SOURCES test_harness.cpp)
# The scripts around the Windows programs, run on the host: the shared Wine
# environment's display handling, and the benchmark's NSIS scripts and call count.
add_test(NAME wine_env_tests COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/harness/test-wine-env.sh)
add_test(NAME nsis_scripts_tests COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/harness/test-nsis-scripts.sh)
add_test(NAME count_calls_tests COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/harness/test-count-calls.sh)
set_tests_properties(wine_env_tests nsis_scripts_tests count_calls_tests PROPERTIES TIMEOUT 60)
