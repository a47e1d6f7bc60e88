# Language library and message lookup. The tests build four resource-only
# language libraries (no code; entry point 0 means none): strings with the "RTL"
# dialog, strings alone, strings with one dialog template of its own, and
# strings with a settings dialog that names a control class never registered. They
# copy them as zvxlng.dll into scratch folders; they live in a folder of their
# own so that no test executable finds one beside itself.
foreach(variant rtl ltr dialogs oldrichedit)
    add_library(zvxlng_${variant} SHARED data/testlang.rc)
    set_target_properties(zvxlng_${variant} PROPERTIES
        LINKER_LANGUAGE C
        PREFIX ""
        OUTPUT_NAME zvxlng-${variant}
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/langlib)
    target_include_directories(zvxlng_${variant} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_options(zvxlng_${variant} PRIVATE -nostdlib -Wl,--entry=0)
endforeach()
target_compile_definitions(zvxlng_rtl PRIVATE ZVX_TESTLANG_RTL)
target_compile_definitions(zvxlng_dialogs PRIVATE ZVX_TESTLANG_DIALOGS)
target_compile_definitions(zvxlng_oldrichedit PRIVATE ZVX_TESTLANG_OLDRICHEDIT)

zvx_add_wine_test(NAME language_tests SOURCES
    test_language_file.cpp
    test_messages.cpp
    DEPENDS zvxlng_rtl zvxlng_ltr zvxlng_dialogs)
