#include "platform/linux/desktop/CanberraSoundPlayer.h"

#include "base/Logging.h"

#include <alsa/asoundlib.h>
#include <canberra.h>

#include <cstdarg>

namespace {

// ALSA prints its own errors on stderr (no sound card, no default device); canberra's result says enough.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

} // namespace

CanberraSoundPlayer::CanberraSoundPlayer() {
    snd_lib_error_set_handler(&quietAlsa);
    if (int error = ca_context_create(&m_context); error != CA_SUCCESS) {
        qCDebug(lcApp) << "no sound:" << ca_strerror(error);
        m_context = nullptr;
        return;
    }
    ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Ferrovane", CA_PROP_APPLICATION_ID,
                            "io.github.ferrovane.Ferrovane", nullptr);
}

CanberraSoundPlayer::~CanberraSoundPlayer() {
    if (m_context) ca_context_destroy(m_context);
}

void CanberraSoundPlayer::playSaveSound() {
    if (!m_context) return;
    // Plays asynchronously; the call returns once the sound is queued.
    int error = ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "screen-capture", CA_PROP_EVENT_DESCRIPTION,
                                "Replay saved", nullptr);
    if (error == CA_ERROR_NOTFOUND)
        error = ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "complete", CA_PROP_EVENT_DESCRIPTION,
                                "Replay saved", nullptr);
    if (error != CA_SUCCESS) qCDebug(lcApp) << "save sound not played:" << ca_strerror(error);
}
