# The message window driven offscreen through its control numbers, with a stand-in owner.
korrin_add_test(player_test GUI SOURCES gui/player_test.cpp LIBS korrin_ui)
# The window on its own, for checks from outside the process (accessibility bus, screenshots).
add_executable(player_window helpers/player_window.cpp)
target_link_libraries(player_window PRIVATE korrin_ui)
add_dependencies(player_test player_window)
# The composer seen through the desktop accessibility bus, as a screen reader sees it.
add_test(NAME PlayerAccessibilityBus
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/player_atspi.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
set_tests_properties(PlayerAccessibilityBus PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
add_dependencies(player_test korrinctl tolvlink_partial wab32)
