#ifndef CODECSETTINGS_H
#define CODECSETTINGS_H

// The voice formats the settings enable, in the order the phone offers them
// and prefers them; a plain list, one entry per codec checkbox.

#include "sdpformat.h"

struct AccountSettings;

SdpFormats enabledFormats(const AccountSettings &settings);

#endif // CODECSETTINGS_H
