# Mail: encoding speed (Google Benchmark) and the send timer used by smtp_sink_compare.sh.
add_executable(mail_bench ${CMAKE_CURRENT_LIST_DIR}/mail_bench.cpp)
target_link_libraries(mail_bench PRIVATE korrin_core benchmark::benchmark)
add_executable(smtp_send_timer ${CMAKE_CURRENT_LIST_DIR}/smtp_send_timer.cpp)
target_link_libraries(smtp_send_timer PRIVATE korrin_core)
