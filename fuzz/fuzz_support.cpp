// The one initialisation of every fuzz target: output and warnings go to memory.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    capture_standard_streams();
    return 0;
}
