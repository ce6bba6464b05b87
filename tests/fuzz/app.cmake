# Application core fuzz targets.
korrin_add_fuzzer(korrin_cmdline_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/korrin_cmdline_fuzz.cpp LIBS korrin_core)
korrin_add_fuzzer(answers_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/answers_fuzz.cpp LIBS platform_core)
korrin_add_fuzzer(instance_request_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/instance_request_fuzz.cpp LIBS korrin_core)
korrin_add_fuzzer(window_script_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_script_fuzz.cpp LIBS korrin_core)
