# A DLL of our own for the tests that need a library in use or planted.
add_library(zvx_probe SHARED program_probe_dll.c)
set_target_properties(zvx_probe PROPERTIES PREFIX "" OUTPUT_NAME zvx_probe
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_options(zvx_probe PRIVATE -static-libgcc)

# Stands in for the command interpreter: records how the uninstall starts it.
add_executable(zvx_interpreter_recorder WIN32 tools/interpreter_recorder.cpp)
target_link_libraries(zvx_interpreter_recorder PRIVATE zvx_flags)

# The program's own string table is compiled into every test executable.
set_source_files_properties(support/test_resources.rc PROPERTIES OBJECT_DEPENDS "${ZVX_RESOURCE_INCLUDES}")

zvx_add_wine_test(NAME options_tests SOURCES
    test_options.cpp
    test_program.cpp
    DEPENDS zvx_probe)

zvx_add_wine_test(NAME uninstall_tests SOURCES
    test_uninstall.cpp
    test_install_list.cpp
    TIMEOUT 600
    DEPENDS Uninstall zvx_probe zvx_interpreter_recorder)

# The symbolic links of the uninstall and shortcut tests, made on the host side.
add_test(NAME program_links_setup
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/program_links.sh setup ${ZVX_WINE_RUN_DIR})
add_test(NAME program_links_cleanup
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/program_links.sh cleanup ${ZVX_WINE_RUN_DIR})
set_tests_properties(program_links_setup PROPERTIES
    FIXTURES_SETUP program_links FIXTURES_REQUIRED wine TIMEOUT 30)
set_tests_properties(program_links_cleanup PROPERTIES
    FIXTURES_CLEANUP program_links FIXTURES_REQUIRED wine TIMEOUT 30)
set_property(TEST uninstall_tests shortcut_tests APPEND PROPERTY FIXTURES_REQUIRED program_links)

# The deployment contract: the decisions in-process, then the real program as
# deployment tools start it (exit codes, -log=, two runs at once, a window
# station nobody sees).
zvx_add_wine_test(NAME deployment_tests SOURCES
    test_deployment.cpp
    test_deployment_runs.cpp
    TIMEOUT 600
    DEPENDS Uninstall zvx_probe)
