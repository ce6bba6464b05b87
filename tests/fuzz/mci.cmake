# Wave files as the sound device reads them.
korrin_add_fuzzer(wave_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WaveFuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mci/WaveData.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mci/PcmConvert.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/lazy/Soxr.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/lazy/LazyLibrary.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/files/Files.cpp
    LIBS ${CMAKE_DL_LIBS})
target_include_directories(wave_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src ${SOXR_INCLUDE_DIRS})
