# Application core benchmarks.
add_executable(utils_bench ${CMAKE_CURRENT_LIST_DIR}/utils_bench.cpp)
target_link_libraries(utils_bench PRIVATE korrin_core benchmark::benchmark)
