#include "platform/mbstring.h"

// UTF-8: every byte of a multibyte character is 0x80 or above, so no byte is ever
// mistaken for an ASCII delimiter and no lead byte needs skipping.
bool IsLeadByte(unsigned char) { return false; }

