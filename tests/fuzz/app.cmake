# Application core fuzz targets.
korrin_add_fuzzer(korrin_cmdline_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/korrin_cmdline_fuzz.cpp LIBS korrin_core)
