# registry fuzz targets
# The parsers are compiled into each target rather than linked from their libraries, so
# that the fuzzer's coverage instrumentation reaches them.
set(_regtext ${CMAKE_SOURCE_DIR}/src/tools/RegText.cpp)
korrin_add_fuzzer(fuzz_mime_types
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MimeTypesFuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/registry/MimeTypes.cpp)
korrin_add_fuzzer(fuzz_reg_key_name SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegKeyNameFuzz.cpp ${_regtext})
korrin_add_fuzzer(fuzz_reg_dword SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegDwordFuzz.cpp ${_regtext})
korrin_add_fuzzer(fuzz_reg_hex SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegHexFuzz.cpp ${_regtext})
foreach(target fuzz_mime_types fuzz_reg_key_name fuzz_reg_dword fuzz_reg_hex)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
endforeach()
