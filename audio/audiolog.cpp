// The logging category of the audio module.
#include "audio/audiolog.h"

Q_LOGGING_CATEGORY(lcAudio, "clavora.audio")
