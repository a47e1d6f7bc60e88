# Shell integration: version probes, associations, shell extension, shortcuts,
# App Paths and uninstall entry, and their removal.
# The tests run from a scratch folder of their own (RunFromScratchFolder), where
# they place stand-ins for the product's files beside the code under test.

# Stands in for the packaged context-menu installer and records how it was started.
add_executable(zvx_installer_recorder WIN32 tools/installer_recorder.cpp)
target_link_libraries(zvx_installer_recorder PRIVATE zvx_flags)

zvx_add_wine_test(NAME associations_tests SOURCES test_associations.cpp)
zvx_add_wine_test(NAME shell_tests TIMEOUT 400 DEPENDS zvx_installer_recorder SOURCES
    test_windows_version.cpp
    test_shell_extension.cpp)
zvx_add_wine_test(NAME shortcut_tests SOURCES test_shortcuts.cpp)
zvx_add_wine_test(NAME removal_tests DEPENDS Uninstall zvx_installer_recorder SOURCES
    test_app_paths.cpp
    test_install_owner.cpp
    test_removal.cpp)
