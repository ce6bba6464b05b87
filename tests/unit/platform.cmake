# Files, processes and shell tests.
korrin_add_test(files_test SOURCES unit/files_test.cpp LIBS platform_core)
korrin_add_test(process_test SOURCES unit/process_test.cpp LIBS platform_core)
korrin_add_test(shell_test SOURCES unit/shell_test.cpp LIBS platform_core)
