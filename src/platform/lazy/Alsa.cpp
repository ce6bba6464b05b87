// ALSA's functions the program calls (the mixer, and the error handler that keeps its
// complaints off stderr), forwarded to the library loaded on first use.
#include <alsa/asoundlib.h>

#include "platform/lazy/LazyLibrary.h"

using korrin::platform::AlsaLibrary;

extern "C" {

int snd_lib_error_set_handler(snd_lib_error_handler_t handler) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_lib_error_set_handler)(handler);
}

int snd_mixer_open(snd_mixer_t** mixer, int mode) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_open)(mixer, mode);
}

int snd_mixer_attach(snd_mixer_t* mixer, const char* name) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_attach)(mixer, name);
}

int snd_mixer_selem_register(snd_mixer_t* mixer, struct snd_mixer_selem_regopt* options,
                             snd_mixer_class_t** classp) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_register)(mixer, options, classp);
}

int snd_mixer_load(snd_mixer_t* mixer) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_load)(mixer);
}

int snd_mixer_close(snd_mixer_t* mixer) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_close)(mixer);
}

snd_mixer_elem_t* snd_mixer_first_elem(snd_mixer_t* mixer) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_first_elem)(mixer);
}

snd_mixer_elem_t* snd_mixer_elem_next(snd_mixer_elem_t* elem) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_elem_next)(elem);
}

int snd_mixer_selem_is_active(snd_mixer_elem_t* elem) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_is_active)(elem);
}

int snd_mixer_selem_has_playback_volume(snd_mixer_elem_t* elem) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_has_playback_volume)(elem);
}

int snd_mixer_selem_has_playback_switch(snd_mixer_elem_t* elem) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_has_playback_switch)(elem);
}

int snd_mixer_selem_is_playback_mono(snd_mixer_elem_t* elem) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_is_playback_mono)(elem);
}

const char* snd_mixer_selem_get_name(snd_mixer_elem_t* elem) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_get_name)(elem);
}

int snd_mixer_selem_get_playback_volume_range(snd_mixer_elem_t* elem, long* min, long* max) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_get_playback_volume_range)(elem, min, max);
}

int snd_mixer_selem_get_playback_volume(snd_mixer_elem_t* elem,
                                        snd_mixer_selem_channel_id_t channel, long* value) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_get_playback_volume)(elem, channel, value);
}

int snd_mixer_selem_set_playback_volume(snd_mixer_elem_t* elem,
                                        snd_mixer_selem_channel_id_t channel, long value) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_set_playback_volume)(elem, channel, value);
}

int snd_mixer_selem_get_playback_switch(snd_mixer_elem_t* elem,
                                        snd_mixer_selem_channel_id_t channel, int* value) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_get_playback_switch)(elem, channel, value);
}

int snd_mixer_selem_set_playback_switch(snd_mixer_elem_t* elem,
                                        snd_mixer_selem_channel_id_t channel, int value) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_selem_set_playback_switch)(elem, channel, value);
}

int snd_mixer_poll_descriptors_count(snd_mixer_t* mixer) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_poll_descriptors_count)(mixer);
}

int snd_mixer_poll_descriptors(snd_mixer_t* mixer, struct pollfd* pfds, unsigned int space) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_poll_descriptors)(mixer, pfds, space);
}

int snd_mixer_handle_events(snd_mixer_t* mixer) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_mixer_handle_events)(mixer);
}

int snd_ctl_open(snd_ctl_t** ctl, const char* name, int mode) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_ctl_open)(ctl, name, mode);
}

int snd_ctl_close(snd_ctl_t* ctl) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_ctl_close)(ctl);
}

int snd_ctl_card_info(snd_ctl_t* ctl, snd_ctl_card_info_t* info) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_ctl_card_info)(ctl, info);
}

size_t snd_ctl_card_info_sizeof(void) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_ctl_card_info_sizeof)();
}

const char* snd_ctl_card_info_get_name(const snd_ctl_card_info_t* info) {
    KORRIN_LAZY_CALL(AlsaLibrary(), snd_ctl_card_info_get_name)(info);
}

}  // extern "C"
