# The connection names read from NetworkManager's terse output.
korrin_add_fuzzer(dialup_names_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialup_names_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/shell/DialUp.cpp
    LIBS platform_core)
