# The Transport and zip hint dialogs, offscreen.
korrin_add_test(transport_dialogs_test GUI SOURCES gui/transport_test.cpp LIBS korrin_ui)
