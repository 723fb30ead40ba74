// Services of the operating system that the standard library does not offer.
#pragma once

namespace temra::platform {

// Asks the system to back the calculator's large arrays with huge pages where it
// supports them, which saves most of the cost of touching fresh memory.
void InstallMemoryAdvice();

} // namespace temra::platform
