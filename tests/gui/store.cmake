# The message list, the folder tree and the new-version notice, offscreen.
korrin_add_test(store_gui_test GUI
    SOURCES gui/store_gui_test.cpp
    LIBS korrin_ui)
