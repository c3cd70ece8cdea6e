// The per-process handle table: slots with generations, guarded by one mutex.
#include "qx/handles.h"

#include <vector>

namespace qx {
namespace {

constexpr std::uint32_t kSlotCount = 0x10000;  // slot 0 is never used
constexpr std::uint32_t kGenerationMask = 0x7FFF;

struct Slot {
  ObjectRef object;
  std::uint16_t generation = 1;
};

struct Table {
  std::mutex lock;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> free_slots;
  std::uint32_t next_unused = 1;
};

Table &TheTable() {
  static Table *table = new Table;  // never destroyed: handles outlive static destructors
  return *table;
}

HANDLE MakeHandle(std::uint32_t slot, std::uint16_t generation) {
  return QX_HANDLE_FROM(HANDLE, (std::uint32_t{generation} << 16) | slot);
}

bool SplitHandle(HANDLE handle, std::uint32_t &slot, std::uint16_t &generation) {
  const auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
  if (value > 0x7FFFFFFF) return false;
  slot = static_cast<std::uint32_t>(value & 0xFFFF);
  generation = static_cast<std::uint16_t>(value >> 16);
  return slot != 0 && generation != 0;
}

}  // namespace

HANDLE InsertHandle(ObjectRef object) {
  if (!object) return nullptr;
  Table &t = TheTable();
  std::lock_guard guard(t.lock);
  std::uint32_t slot;
  if (!t.free_slots.empty()) {
    slot = t.free_slots.back();
    t.free_slots.pop_back();
  } else if (t.next_unused < kSlotCount) {
    slot = t.next_unused++;
    if (t.slots.size() <= slot) t.slots.resize(slot + 1);
  } else {
    return nullptr;
  }
  t.slots[slot].object = std::move(object);
  return MakeHandle(slot, t.slots[slot].generation);
}

ObjectRef LookupHandle(HANDLE handle, ObjectKind kind) {
  std::uint32_t slot;
  std::uint16_t generation;
  if (!SplitHandle(handle, slot, generation)) return nullptr;
  Table &t = TheTable();
  std::lock_guard guard(t.lock);
  if (slot >= t.slots.size()) return nullptr;
  const Slot &s = t.slots[slot];
  if (!s.object || s.generation != generation) return nullptr;
  if (kind != ObjectKind::Any && s.object->kind() != kind) return nullptr;
  return s.object;
}

ObjectRef RemoveHandle(HANDLE handle) {
  std::uint32_t slot;
  std::uint16_t generation;
  if (!SplitHandle(handle, slot, generation)) return nullptr;
  Table &t = TheTable();
  ObjectRef removed;
  {
    std::lock_guard guard(t.lock);
    if (slot >= t.slots.size()) return nullptr;
    Slot &s = t.slots[slot];
    if (!s.object || s.generation != generation) return nullptr;
    removed = std::move(s.object);
    s.object.reset();
    s.generation = static_cast<std::uint16_t>((s.generation & kGenerationMask) % kGenerationMask + 1);
    t.free_slots.push_back(slot);
  }
  return removed;  // destroyed outside the lock: destructors may close handles
}

bool IsTableHandle(HANDLE handle) {
  std::uint32_t slot;
  std::uint16_t generation;
  return SplitHandle(handle, slot, generation);
}

}  // namespace qx
