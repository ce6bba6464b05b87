# The fix worker and the handoff from a reading thread to the user-interface thread, without a
# window painted, so the set also runs under ThreadSanitizer.
# Not in the ThreadSanitizer run: the worker hands its results over through Qt's event queue,
# whose locks (futexes inside Qt, built without the sanitizer) the checker cannot see, so every
# queued call shows as a race.
korrin_add_test(fix_handoff_test GUI SOURCES gui/fix_handoff_test.cpp LIBS korrin_ui)
