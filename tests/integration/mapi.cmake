# The messaging layer end to end: the mail module's writer, msmtp as the submit command, a real
# SMTP server, the store read back by Python's mailbox module, and killed flushes.
korrin_add_test(mapi_submit_test SOURCES integration/mapi_submit_test.cpp LIBS korrin_core)
