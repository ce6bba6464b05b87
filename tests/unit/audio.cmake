# Wave files, codecs and conversion.
korrin_add_test(mmio_test SOURCES unit/mmio_test.cpp LIBS platform_core)
