#pragma once
// Holders for what the platform hands out and wants back: an open handle (closed once, unless it
// is null or the invalid-handle value) and a block of LocalAlloc memory (security descriptors).
// Handles are typed `void *` (the platform HANDLE) so that pure code can include this header.

// Closes `handle` unless it is null or the invalid-handle value.
void handle_close(void *handle);
// Closes `*handle` as handle_close does, then nulls it.
inline void handle_reset(void **handle) {
  handle_close(*handle);
  *handle = nullptr;
}
// Frees a block the platform allocated with LocalAlloc; null is nothing.
void local_free(void *block);

// Owns one resource released by `Release`: move-only, released when it goes out of scope.
template <void (*Release)(void *)>
class PlatformHolder {
 public:
  PlatformHolder() = default;
  explicit PlatformHolder(void *owned) : owned_(owned) {}
  ~PlatformHolder() { Release(owned_); }
  PlatformHolder(PlatformHolder &&other) : owned_(other.release()) {}
  PlatformHolder &operator=(PlatformHolder &&other) {
    reset(other.release());
    return *this;
  }
  PlatformHolder(const PlatformHolder &) = delete;
  PlatformHolder &operator=(const PlatformHolder &) = delete;

  void *get() const { return owned_; }
  // Gives the resource up to the caller, who then releases it.
  void *release() {
    void *owned = owned_;
    owned_ = nullptr;
    return owned;
  }
  void reset(void *owned = nullptr) {
    Release(owned_);
    owned_ = owned;
  }

 private:
  void *owned_ = nullptr;
};

using ScopedHandle = PlatformHolder<handle_close>;
using LocalMemory = PlatformHolder<local_free>;
