# The Outbox page and the hidden transmission window, offscreen.
korrin_add_test(transmit_gui_test GUI
    SOURCES gui/transmit_gui_test.cpp
    LIBS korrin_ui)
