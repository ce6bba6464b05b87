# The main window with real message files, the real unpacker and a real SMTP server.
korrin_add_test(main_window_test GUI
    SOURCES gui/main_window_test.cpp
    LIBS korrin_ui)
# The main window of the real program seen through the desktop accessibility bus.
add_test(NAME MainWindowAccessibilityBus
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/main_window_atspi.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
set_tests_properties(MainWindowAccessibilityBus PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
add_dependencies(main_window_test korrin korrinctl)
# The desktop notification through a stand-in service on a private session bus.
korrin_add_test(desktop_test GUI
    SOURCES gui/desktop_test.cpp
    LIBS korrin_ui)
