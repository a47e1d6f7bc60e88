zvx_add_wine_test(NAME settings_tests SOURCES
    test_settings_store.cpp
    test_settings_file.cpp
    test_text_file.cpp)

# The linked settings file, made on the host side.
add_test(NAME settings_links_setup
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/settings_links.sh setup ${ZVX_WINE_RUN_DIR})
add_test(NAME settings_links_cleanup
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/settings_links.sh cleanup ${ZVX_WINE_RUN_DIR})
set_tests_properties(settings_links_setup PROPERTIES
    FIXTURES_SETUP settings_links FIXTURES_REQUIRED wine TIMEOUT 30)
set_tests_properties(settings_links_cleanup PROPERTIES
    FIXTURES_CLEANUP settings_links FIXTURES_REQUIRED wine TIMEOUT 30)
set_property(TEST settings_tests APPEND PROPERTY FIXTURES_REQUIRED settings_links)
