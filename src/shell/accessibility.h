// Roles that assistive technology cannot tell from the widget classes alone: the windows
// are frames and the waveform strips are images.
//
// Threads: UI thread only.
#pragma once

namespace zb {

// Installs the role factory once per process; later calls do nothing.
void installAccessibleRoles();

}  // namespace zb
