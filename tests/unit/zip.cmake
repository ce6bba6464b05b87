# Zip packaging with the real launchers over Info-ZIP, and the folder helpers under it.
korrin_add_test(zip_test SOURCES unit/zip_test.cpp unit/tool_output_test.cpp LIBS korrin_core)
