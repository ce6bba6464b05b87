# Message store fuzz targets.
korrin_add_fuzzer(trailer_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/trailer_fuzz.cpp LIBS korrin_core)
