zvx_add_wine_test(NAME base_tests SOURCES
    test_strings.cpp
    test_paths.cpp
    test_file.cpp
    test_find.cpp
    test_module.cpp
    test_array.cpp
    test_change_log.cpp
    test_gate.cpp)
