# The message window's event loop while it sends a 10-minute recording (a 10 ms probe timer).
add_executable(send_stall_bench ${CMAKE_CURRENT_LIST_DIR}/send_stall_bench.cpp)
target_link_libraries(send_stall_bench PRIVATE korrin_ui benchmark::benchmark)
target_compile_definitions(send_stall_bench PRIVATE KORRIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
