#include <errno.h>
#include <time.h>

#include "frame/clock.h"

void sleep_us(long us) {
  struct timespec ts = {us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
