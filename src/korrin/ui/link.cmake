# The main window hands files between starts over a local socket and tells the desktop's
# notification service about finished sessions.
find_package(Qt6 REQUIRED COMPONENTS Network DBus)
target_link_libraries(korrin_ui PUBLIC Qt6::Network Qt6::DBus)
