// Apple's <mach/mach_time.h>, as far as the type-check needs it.
#pragma once

#include <stdint.h>

struct mach_timebase_info {
  uint32_t numer;
  uint32_t denom;
};
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef struct mach_timebase_info mach_timebase_info_data_t;
typedef int kern_return_t;

extern "C" {
kern_return_t mach_timebase_info(mach_timebase_info_t info);
uint64_t mach_absolute_time(void);
uint64_t mach_continuous_time(void);
}
