# The composer's core: the message file name, saving the recording, drafts.
korrin_add_test(send_test SOURCES unit/send_test.cpp LIBS korrin_core LABELS threads)
