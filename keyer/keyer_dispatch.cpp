#include "keyer/keyer_dispatch.h"

// What each event shows and sends is decided with the Main window's roles and the link;
// until that is wired, the keyer's bytes are read, sorted and kept, and go no further.
void DispatchKeyerEvent(int /*type*/, uint8_t /*value*/) {}
