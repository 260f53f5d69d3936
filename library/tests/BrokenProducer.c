/* BrokenProducer: a plug-in that exports only part of the GenTL functions the library needs. */
#include <stdint.h>

__attribute__((visibility("default"))) int32_t GCInitLib(void) {
    return 0;
}
