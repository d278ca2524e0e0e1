// Storage of the module-wide panel model; static storage makes every field zero at load.
#include "config/panel_model.h"

PanelModel panelModel;
