# platform fuzz targets
# The parser is compiled into the target itself so libFuzzer's coverage reaches it; the
# library's copy of it is then never linked in.
korrin_add_fuzzer(commandline_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/commandline_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/process/CommandLine.cpp
    LIBS platform_core)
korrin_add_fuzzer(json_escape_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_escape_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/seam/MessageSeam.cpp
    LIBS platform_core)
korrin_add_fuzzer(file_answers_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_answers_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/seam/FileAnswers.cpp
    LIBS platform_core)
