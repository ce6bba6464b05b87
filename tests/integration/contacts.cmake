# The address book against a real contacts program (khard), through korrinctl.
korrin_add_test(contacts_khard_test
    SOURCES integration/contacts_khard_test.cpp
    LIBS platform_core)
add_dependencies(contacts_khard_test korrinctl)
