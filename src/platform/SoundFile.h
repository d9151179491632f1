#pragma once

#include <QString>

// Plays a sound file (WAV, or any other format libsndfile reads) on the default audio
// output and returns when it has been played to its end. A sound already playing through this
// function is never interrupted: the call then returns false at once without playing. Returns false
// (reason in *error) when the file is missing or unreadable or the output fails.
bool PlaySoundFile(const QString& path, QString* error = nullptr);
