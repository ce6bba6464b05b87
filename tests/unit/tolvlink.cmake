# The MAPI support library's address-list texts.
korrin_add_test(tolvlink_text_test SOURCES unit/tolvlink_text_test.cpp LIBS tolvlink_text)
