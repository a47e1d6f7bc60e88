zvx_add_wine_test(NAME base_tests SOURCES
    test_strings.cpp)
