#include <windows.h>

#include "frame/clock.h"

// Sleep counts whole milliseconds; round up so the pause is never shorter.
void sleep_us(long us) { Sleep((DWORD)((us + 999) / 1000)); }
