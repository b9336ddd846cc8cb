// Allocation inside the module.
//
// A court makes a few dozen short strings and drops them all before the call returns. While a
// `CallArena` is open, the module's operator new hands out memory from one block by bumping an
// offset, and operator delete leaves that memory alone; closing the arena gives the block back
// at once. Requests that do not fit fall back to malloc.
//
// The block is shared, so an arena may only be open around pure C++ work that runs no Python
// code (no argument conversion, no object creation that could run a finaliser): then no other
// thread can enter the module meanwhile, since the interpreter lock is held throughout. Every
// C++ heap object made inside must die before the arena closes.
#pragma once

#include <cstddef>

namespace qorv_chemical_engineering_py {

class CallArena {
  public:
    CallArena() noexcept;
    ~CallArena();
    CallArena(const CallArena&) = delete;
    CallArena& operator=(const CallArena&) = delete;

  private:
    std::size_t mark_;
};

}  // namespace qorv_chemical_engineering_py
