# The window that fixes old messages, offscreen.
# Not in the ThreadSanitizer run: painting the dialog sets Qt's own uninstrumented thread pool
# to work, which shows as races between Qt's threads.
korrin_add_test(fixdlg_test GUI SOURCES gui/fixdlg_test.cpp LIBS korrin_ui)
