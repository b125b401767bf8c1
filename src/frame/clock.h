// Pauses, one implementation per platform (clock_posix.cpp, clock_win.cpp).
#pragma once

// Sleeps for at least us microseconds; a signal does not cut it short.
void sleep_us(long us);
