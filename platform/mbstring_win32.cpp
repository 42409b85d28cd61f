#include "platform/mbstring.h"

#include <windows.h>

bool IsLeadByte(unsigned char b) { return IsDBCSLeadByte(b) != FALSE; }

