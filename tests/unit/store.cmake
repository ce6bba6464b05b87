# Message store: message files, folders, folder lists.
add_executable(trailer_worker helpers/trailer_worker.cpp)
target_link_libraries(trailer_worker PRIVATE korrin_core)

korrin_add_test(store_test
    SOURCES unit/store/trailer_test.cpp unit/store/folders_test.cpp
            unit/store/folderlist_test.cpp
    LIBS korrin_core
    LABELS threads)
add_dependencies(store_test trailer_worker)

korrin_add_test(korrinctl_store_test
    SOURCES unit/store/korrinctl_store_test.cpp
    LIBS korrin_core)
add_dependencies(korrinctl_store_test korrinctl)
