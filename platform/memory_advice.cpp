#include "memory_advice.h"

#include "module1.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace temra::platform {

void InstallMemoryAdvice() {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    SetMemoryAdvisor([](void* data, std::size_t bytes) {
        // Advice only: a refusal leaves ordinary pages, with the same results.
        (void)madvise(data, bytes, MADV_HUGEPAGE);
    });
#endif
}

} // namespace temra::platform
