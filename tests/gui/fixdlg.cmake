# The window that fixes old messages, offscreen (also run under ThreadSanitizer).
korrin_add_test(fixdlg_test GUI SOURCES gui/fixdlg_test.cpp LIBS korrin_ui LABELS threads)
