# Shell integration: version probes, associations, shell extension, shortcuts,
# App Paths and uninstall entry, and their removal.
# The tests run from a scratch folder of their own (RunFromScratchFolder), where
# they place stand-ins for the product's files beside the code under test.
add_executable(zvx_test_installer WIN32 test_installer.cpp)
target_link_libraries(zvx_test_installer PRIVATE zvx_flags)

zvx_add_wine_test(NAME associations_tests SOURCES test_associations.cpp)
zvx_add_wine_test(NAME shell_tests TIMEOUT 400 DEPENDS zvx_test_installer SOURCES
    test_windows_version.cpp
    test_shell_extension.cpp)
zvx_add_wine_test(NAME shortcut_tests SOURCES test_shortcuts.cpp)
zvx_add_wine_test(NAME removal_tests DEPENDS Uninstall zvx_test_installer SOURCES
    test_app_paths.cpp
    test_removal.cpp)
