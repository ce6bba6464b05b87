# The address dialog of the vCard address book, offscreen.
korrin_add_test(address_dlg_test GUI SOURCES gui/address_dlg_test.cpp LIBS platform_ui)
