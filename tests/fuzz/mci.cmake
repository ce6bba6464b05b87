# Wave files as the sound device reads them.
korrin_add_fuzzer(wave_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WaveFuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mci/WaveData.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mci/PcmConvert.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/files/Files.cpp)
target_include_directories(wave_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src)
