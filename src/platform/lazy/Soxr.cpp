// libsoxr's functions the program calls, forwarded to the library loaded on first use.
#include <soxr.h>

#include "platform/lazy/LazyLibrary.h"

using korrin::platform::SoxrLibrary;

extern "C" {

soxr_io_spec_t soxr_io_spec(soxr_datatype_t itype, soxr_datatype_t otype) {
    KORRIN_LAZY_CALL(SoxrLibrary(), soxr_io_spec)(itype, otype);
}

soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags) {
    KORRIN_LAZY_CALL(SoxrLibrary(), soxr_quality_spec)(recipe, flags);
}

soxr_t soxr_create(double inputRate, double outputRate, unsigned channels, soxr_error_t* error,
                   const soxr_io_spec_t* io, const soxr_quality_spec_t* quality,
                   const soxr_runtime_spec_t* runtime) {
    KORRIN_LAZY_CALL(SoxrLibrary(), soxr_create)
    (inputRate, outputRate, channels, error, io, quality, runtime);
}

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t ilen, size_t* idone,
                          soxr_out_t out, size_t olen, size_t* odone) {
    KORRIN_LAZY_CALL(SoxrLibrary(), soxr_process)(resampler, in, ilen, idone, out, olen, odone);
}

soxr_error_t soxr_clear(soxr_t resampler) {
    KORRIN_LAZY_CALL(SoxrLibrary(), soxr_clear)(resampler);
}

void soxr_delete(soxr_t resampler) {
    KORRIN_LAZY_CALL(SoxrLibrary(), soxr_delete)(resampler);
}

}  // extern "C"
