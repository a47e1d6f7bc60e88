# Randomised inputs and faults. Every executable here runs under Wine's heap
# checker (harness/heap-check.sh): a heap error reported anywhere in the run fails it.
set(ZVX_HEAP_CHECK sh ${CMAKE_CURRENT_SOURCE_DIR}/harness/heap-check.sh)

# A further run of a robust executable, with its own arguments.
function(zvx_add_heap_checked_run name target)
    add_test(NAME ${name} COMMAND ${ZVX_HEAP_CHECK} $<TARGET_FILE:${target}> --gtest_color=no ${ARGN})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        RESOURCE_LOCK wine_prefix
        TIMEOUT 240
        ENVIRONMENT "ZVX_WINE_RUN_DIR=${ZVX_WINE_RUN_DIR};ZVX_WINEDEBUG=warn+heap")
endfunction()

# The inputs of several megabytes run apart from the rest: the free heap space
# they leave is checked again at every later heap call.
zvx_add_wine_test(NAME robust_parser_tests SOURCES
    test_robust_language.cpp
    test_robust_settings.cpp
    test_robust_options.cpp
    test_robust_heap_check.cpp
    robust_allocator.cpp
    TIMEOUT 240
    WRAPPER harness/heap-check.sh
    ENVIRONMENT ZVX_WINEDEBUG=warn+heap GTEST_FILTER=-*LargeInputs.*)
zvx_add_heap_checked_run(robust_parser_large_inputs robust_parser_tests --gtest_filter=*LargeInputs.*)

# Proof that the checker sees a one-byte overrun in this build: the run of the
# deliberately damaging test must end with heap-check.sh's report.
zvx_add_heap_checked_run(robust_heap_check_sees_an_overrun robust_parser_tests
    --gtest_also_run_disabled_tests --gtest_filter=HeapCheck.DISABLED_*)
set_tests_properties(robust_heap_check_sees_an_overrun PROPERTIES
    PASS_REGULAR_EXPRESSION "heap-check: Wine reported heap errors")

# The real Uninstall.exe, silent, with random lists and faults; the program runs
# under the same heap validation as the tests.
zvx_add_wine_test(NAME robust_uninstall_tests SOURCES
    test_robust_uninstall.cpp
    robust_allocator.cpp
    TIMEOUT 400
    DEPENDS Uninstall
    WRAPPER harness/heap-check.sh
    ENVIRONMENT ZVX_WINEDEBUG=warn+heap ZVX_HEAP_CHECK_IMAGES=Uninstall.exe)
