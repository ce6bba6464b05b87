# The address book's contents: vCard files, typed recipients, resolution.
korrin_add_test(contacts_test SOURCES unit/contacts_test.cpp LIBS platform_core)
korrin_add_test(addrbook_test SOURCES unit/addrbook_test.cpp LIBS platform_core)
