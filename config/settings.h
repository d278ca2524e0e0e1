// Reads the rc file into the panel model and rebuilds what is made from the settings.
#pragma once

#include <windows.h>

void readSettings();
HICON loadIcon(const char* name);
void clearGraphHistories();
void reloadSettings();
// Releases everything reloadSettings made (histories, pens, brushes, font, icons); used at stop.
void releaseSettingsResources();
