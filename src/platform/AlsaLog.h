#pragma once

// Routes alsa-lib's own error printing (which goes to standard error by default) into the
// zunaro.voice debug category. Safe to call from any thread, any number of times.
void InstallAlsaErrorLog();
