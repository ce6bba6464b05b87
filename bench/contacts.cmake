# Address book benchmarks: 10,000 vCard files, first resolve against reading every file, then a
# resolve and a search keystroke on the kept contents.
add_executable(contacts_bench ${CMAKE_CURRENT_LIST_DIR}/contacts_bench.cpp)
target_link_libraries(contacts_bench PRIVATE platform_core benchmark::benchmark)
