# The dialogs of setup mode: localization and help in-process, the context-menu
# items dialog and the setup dialog's controls driven modally.

# Stand-ins that let the tests observe what the dialogs open.
add_library(zvx_hhctrl_recorder SHARED tools/hhctrl_recorder.cpp)
set_target_properties(zvx_hhctrl_recorder PROPERTIES
    PREFIX "" OUTPUT_NAME hhctrl SUFFIX ".ocx"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_compile_options(zvx_hhctrl_recorder PRIVATE -Wall -Wextra -Werror)
target_compile_definitions(zvx_hhctrl_recorder PRIVATE UNICODE _UNICODE)
target_link_options(zvx_hhctrl_recorder PRIVATE -static -static-libgcc)

add_executable(zvx_open_recorder WIN32 tools/open_recorder.cpp)
target_link_libraries(zvx_open_recorder PRIVATE zvx_flags)

zvx_add_wine_test(NAME dialogs_tests TIMEOUT 400
    SOURCES test_dialog_localization.cpp test_context_items_dialog.cpp test_done_dialog.cpp test_setup_options.cpp
    DEPENDS zvx_hhctrl_recorder zvx_open_recorder)

# Pictures of the dialogs for people to look at (tools/render-dialogs.sh).
add_executable(render_dialogs tools/render_dialogs.cpp support/test_resources.rc)
target_link_libraries(render_dialogs PRIVATE zvxcore)

# Setup mode of the real program as a child process.
zvx_add_wine_test(NAME setup_program_tests TIMEOUT 600
    SOURCES test_setup_program.cpp
    DEPENDS Uninstall zvx_open_recorder zvxlng_ltr zvxlng_oldrichedit)
