// The plugin's identity, as pluginInfo answers it and the About box shows it.
#pragma once

#define PLUGIN_NAME "Kelvora"
#define PLUGIN_VERSION "0.0.4"
#define PLUGIN_AUTHOR "Quenvik"
#define PLUGIN_RELEASE_DATE "2007-07-28"
#define PLUGIN_WEB_ADDRESS "https://kelvora.example.org/"
#define PLUGIN_EMAIL "kelvora@example.org"
