# The main window with real message files, the real unpacker and a real SMTP server.
korrin_add_test(main_window_test GUI
    SOURCES gui/main_window_test.cpp
    LIBS korrin_ui)
