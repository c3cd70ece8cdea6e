// The per-process handle table behind HANDLE, HGLOBAL, HMODULE, HKEY and the
// other kernel handles of the layer.
//
// A handle value is (generation << 16) | slot with a generation of at least 1,
// so every value fits in 32 bits, is at least 0x10000 (never confused with a
// socket, which is a small descriptor number) and below 0x80000000 (never
// confused with the predefined registry keys). A closed slot gets a new
// generation, so a stale handle fails cleanly instead of reaching whatever
// object took its place; a handle of the wrong kind fails the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace qx {

enum class ObjectKind : std::uint8_t {
  Any = 0,
  Event,
  Mutex,
  Semaphore,
  Thread,
  Process,  // waitable kernel objects
  File,
  FindFile,
  Mapping,
  Module,
  Global,  // files and memory
  RegistryKey,
  ServiceManager,
  Service,
  EventSource,
  Token,
  Gdi,
  Other,
};

// Base of everything a HANDLE can name. Waitable objects expose a descriptor
// that polls readable while they are signalled, so one poll() can wait on
// objects, sockets and a thread's message queue at once.
class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject &) = delete;
  KernelObject &operator=(const KernelObject &) = delete;

  ObjectKind kind() const { return kind_; }

  // Descriptor that polls readable while the object is signalled; -1 when
  // the object cannot be waited on.
  virtual int WaitFd() const { return -1; }
  // Takes the signal if the object is signalled (an auto-reset event resets,
  // a semaphore counts down, a mutex becomes owned by the calling thread).
  // Returns false when it is not signalled. Never blocks.
  virtual bool TryAcquire() { return false; }
  // True when a wait on this object ended because it was abandoned (a mutex
  // whose owner thread ended).
  virtual bool Abandoned() const { return false; }

 private:
  ObjectKind kind_;
};

using ObjectRef = std::shared_ptr<KernelObject>;

// Adds an object and returns its new handle, or NULL when the table is full.
HANDLE InsertHandle(ObjectRef object);
// The object a handle names, or null if the handle is stale, unknown or of
// another kind (ObjectKind::Any accepts every kind).
ObjectRef LookupHandle(HANDLE handle, ObjectKind kind = ObjectKind::Any);
// Removes a handle; the object lives on while other references hold it.
// Returns the object removed, or null for a stale or unknown handle.
ObjectRef RemoveHandle(HANDLE handle);
// True when the value has the shape of a table handle (not a descriptor).
bool IsTableHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> Lookup(HANDLE handle, ObjectKind kind) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle, kind));
}

}  // namespace qx
