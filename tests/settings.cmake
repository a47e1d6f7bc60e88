zvx_add_wine_test(NAME settings_tests SOURCES
    test_settings_store.cpp
    test_settings_file.cpp
    test_text_file.cpp)
