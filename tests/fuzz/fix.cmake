# The fix of old-layout messages: the leftover names it removes.
korrin_add_fuzzer(fix_leftover_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/fix_leftover_fuzz.cpp LIBS korrin_core)
