// The plugin's identity, as pluginInfo answers it, the About box shows it and the version
// resource holds it. The version and the release date come from CMakeLists.txt.
#pragma once

#include "kelvora_version.h"

#define PLUGIN_NAME "Kelvora"
#define PLUGIN_VERSION KELVORA_VERSION
#define PLUGIN_AUTHOR "Quenvik"
#define PLUGIN_RELEASE_DATE KELVORA_RELEASE_DATE
#define PLUGIN_WEB_ADDRESS "https://kelvora.example.org/"
#define PLUGIN_EMAIL "kelvora@example.org"
