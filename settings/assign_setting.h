#pragma once
// One "NAME=VALUE" given on a command line, checked by its row's rules in the
// settings table and stored in the settings record: tolvane-decode's --set,
// so that a new setting needs no option of its own.

#include "text/number_text.h"

// False with the reason when the text is no NAME=VALUE, names no setting, or
// holds a value the row refuses; the reason names the setting ("mouseClutch:
// 'up' is not one of none, left, right or middle"). The eleven lines take the
// words tolvane-config set takes (on/off, the presets C and B) and refuse a
// number outside their range instead of moving it into it.
bool assignSetting(const char* text, TextBuilder& reason);
