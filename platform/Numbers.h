// Numbers are written and read with '.', whatever the regional settings say: the archive, the
// protocol and the dialogs must read on any machine what another one wrote.
#pragma once

namespace vg57::platform {

// Sets the C library's LC_NUMERIC to "C" and Qt's default locale to QLocale::c(). Call it right
// after the Qt application object is made: that object sets the C locale from the environment.
// Dates, texts and the rest of the regional settings stay as the operator has them.
void UseCNumbers();

} // namespace vg57::platform
