# Mail: encoding speed (Google Benchmark) and the inputs of smtp_sink_compare.sh.
add_executable(mail_bench ${CMAKE_CURRENT_LIST_DIR}/mail_bench.cpp)
target_link_libraries(mail_bench PRIVATE korrin_core benchmark::benchmark)
add_executable(smtp_bench_input ${CMAKE_CURRENT_LIST_DIR}/smtp_bench_input.cpp)
target_link_libraries(smtp_bench_input PRIVATE korrin_core)
