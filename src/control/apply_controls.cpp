#include "control/apply_controls.h"

#include "shell/plugin_instance.h"

// Placeholder until the control stage lands.
void applyControlChanges(PluginInstance&) {}
