include(${CMAKE_CURRENT_LIST_DIR}/registry.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/platform.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/app.cmake)
