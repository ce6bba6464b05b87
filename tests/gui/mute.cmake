# The Mute check box in a window, offscreen.
korrin_add_test(mute_box_test GUI SOURCES gui/mute_box_test.cpp LIBS korrin_ui LABELS threads)
