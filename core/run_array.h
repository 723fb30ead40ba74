// Storage of one large array of a grid run, without zero-filling it first (the
// run writes every entry). Large arrays (32 MiB and more) are aligned to 2 MiB and
// handed to the memory advisor, which may back them with huge pages.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace temra {

// Advice to the operating system about a large array just allocated. The
// programs install one; by default there is none.
using MemoryAdvisor = void (*)(void* data, std::size_t bytes);
void SetMemoryAdvisor(MemoryAdvisor advisor);

template <typename T> class RunArray {
  public:
    RunArray() = default;
    explicit RunArray(std::size_t n);
    std::size_t size() const { return size_; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

  private:
    struct Free {
        std::size_t alignment = alignof(T);
        void operator()(T* p) const { ::operator delete (p, std::align_val_t{alignment}); }
    };
    std::unique_ptr<T[], Free> data_;
    std::size_t size_ = 0;
};

} // namespace temra
