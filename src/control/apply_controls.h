// First stage of every run: apply each control port whose value changed.
#pragma once

struct PluginInstance;

void applyControlChanges(PluginInstance& self);
