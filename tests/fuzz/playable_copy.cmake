# The export of a message file's audio (Opus and wave) on damaged message files.
korrin_add_fuzzer(export_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/export_fuzz.cpp LIBS korrin_core)
