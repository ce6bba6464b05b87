# The MAPI support library loaded by name, as the program loads it, with its dialogs offscreen.
korrin_add_test(tolvlink_test GUI SOURCES gui/tolvlink_test.cpp LIBS korrin_ui)
add_dependencies(tolvlink_test tolvlink)
# The program's side: the binding, the composer and the Transport dialog. A library lacking one
# entry point, in a folder of its own, stands for one that cannot be used.
add_library(tolvlink_partial SHARED helpers/tolvlink_partial.cpp)
set_target_properties(tolvlink_partial PROPERTIES OUTPUT_NAME tolvlink AUTOMOC OFF
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tolvlink-partial)
korrin_add_test(tolvlink_binding_test GUI SOURCES gui/tolvlink_binding_test.cpp LIBS korrin_ui)
add_dependencies(tolvlink_binding_test tolvlink tolvlink_partial)
