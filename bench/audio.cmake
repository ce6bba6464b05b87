# The conversion pipeline against libgsm alone; bench/convert_vs_sox.sh compares whole files
# with sox.
add_executable(audio_bench ${CMAKE_CURRENT_LIST_DIR}/audio_bench.cpp)
target_link_libraries(audio_bench PRIVATE platform_core benchmark::benchmark)
target_include_directories(audio_bench PRIVATE ${GSM_INCLUDE_DIR})
