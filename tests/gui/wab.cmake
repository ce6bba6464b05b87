# The composer's address book through libwab32.so, and the Address Book choice dialog.
korrin_add_test(wab_test GUI SOURCES gui/wab_test.cpp LIBS korrin_ui)
add_dependencies(wab_test wab32)
