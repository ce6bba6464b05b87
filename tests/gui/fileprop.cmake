# The file properties sheet, offscreen.
korrin_add_test(fileprop_test GUI SOURCES gui/fileprop_test.cpp LIBS korrin_ui)
