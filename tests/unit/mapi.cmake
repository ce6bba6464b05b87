# The messaging layer (allocation, entry IDs, Maildir names, profiles, logon, store, spooler)
# and library loading by name.
korrin_add_test(mapi_test SOURCES unit/mapi_test.cpp LIBS platform_core)
