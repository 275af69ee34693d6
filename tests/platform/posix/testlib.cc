// A tiny device library for the simulator's library tests.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::int32_t DllRegisterServer() { return 42; }
extern "C" __attribute__((visibility("default"))) std::int32_t Caf\u00e9() { return 7; }
