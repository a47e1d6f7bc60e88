# Shell integration: version probes, associations, shell extension, shortcuts,
# App Paths and uninstall entry, and their removal.
zvx_add_wine_test(NAME shell_tests SOURCES
    test_windows_version.cpp)
