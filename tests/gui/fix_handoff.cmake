# The fix worker and the handoff from a reading thread to the user-interface thread, without a
# window painted, so the set also runs under ThreadSanitizer (the hand-overs through Qt's queue are
# marked for it).
korrin_add_test(fix_handoff_test GUI SOURCES gui/fix_handoff_test.cpp LIBS korrin_ui LABELS threads)
