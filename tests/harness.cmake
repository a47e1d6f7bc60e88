zvx_add_wine_test(NAME harness_tests SOURCES test_harness.cpp)
