// PortAudio's functions the program calls, forwarded to the library loaded on first use.
#include <portaudio.h>

#include "platform/lazy/LazyLibrary.h"

using korrin::platform::PortAudioLibrary;

extern "C" {

PaError Pa_Initialize(void) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_Initialize)();
}

PaError Pa_Terminate(void) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_Terminate)();
}

PaDeviceIndex Pa_GetDefaultInputDevice(void) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_GetDefaultInputDevice)();
}

PaDeviceIndex Pa_GetDefaultOutputDevice(void) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_GetDefaultOutputDevice)();
}

const PaDeviceInfo* Pa_GetDeviceInfo(PaDeviceIndex device) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_GetDeviceInfo)(device);
}

PaError Pa_IsFormatSupported(const PaStreamParameters* input, const PaStreamParameters* output,
                             double sampleRate) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_IsFormatSupported)(input, output, sampleRate);
}

PaError Pa_OpenStream(PaStream** stream, const PaStreamParameters* input,
                      const PaStreamParameters* output, double sampleRate,
                      unsigned long framesPerBuffer, PaStreamFlags flags,
                      PaStreamCallback* callback, void* userData) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_OpenStream)
    (stream, input, output, sampleRate, framesPerBuffer, flags, callback, userData);
}

PaError Pa_SetStreamFinishedCallback(PaStream* stream, PaStreamFinishedCallback* callback) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_SetStreamFinishedCallback)(stream, callback);
}

PaError Pa_StartStream(PaStream* stream) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_StartStream)(stream);
}

PaError Pa_AbortStream(PaStream* stream) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_AbortStream)(stream);
}

PaError Pa_CloseStream(PaStream* stream) {
    KORRIN_LAZY_CALL(PortAudioLibrary(), Pa_CloseStream)(stream);
}

}  // extern "C"
