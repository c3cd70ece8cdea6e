// Resources: each module registers its list of typed records while it loads
// (QX_REGISTER_RESOURCES); lookups go by module, type and name. FindResource,
// LoadResource, LockResource and SizeofResource give the records' bytes, and
// LoadStringA copies string-table entries.
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "module_registry.h"
#include "qx/resources.h"

namespace qx {
namespace {

struct Registration {
  const void *anchor;
  const QX_RESOURCE *entries;
  UINT count;
};

// A found resource as a handle: HRSRC and the HGLOBAL of LoadResource are the
// same handle, made once per resource and withdrawn when its module unloads.
class ResourceObject : public KernelObject {
 public:
  explicit ResourceObject(const QX_RESOURCE *e) : KernelObject(ObjectKind::Other), entry(e) {}
  const QX_RESOURCE *entry;
};

struct ModuleResources {
  std::vector<Registration> lists;
  // Resources whose type and name are both numbers (string tables above all),
  // by (type << 16 | name); the first list that declares one wins, as in the
  // scan of the lists for text names.
  std::unordered_map<std::uint32_t, const QX_RESOURCE *> by_number;
};

struct Registry {
  std::mutex lock;
  std::map<link_map *, ModuleResources> by_module;
  std::map<const QX_RESOURCE *, HANDLE> handles;
};

Registry &TheRegistry() {
  static auto *registry = new Registry;
  return *registry;
}

// The number a resource name stands for, or -1 for a text name.
long NameNumber(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return static_cast<long>(reinterpret_cast<ULONG_PTR>(name));
  if (name[0] != '#') return -1;
  char *end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(name + 1, &end, 10);
  if (end == name + 1 || *end != '\0' || errno != 0 || v > 0xFFFF) return -1;
  return static_cast<long>(v);
}

bool NumberKey(LPCSTR type, LPCSTR name, std::uint32_t &key) {
  const long t = NameNumber(type), n = NameNumber(name);
  if (t < 0 || n < 0) return false;
  key = (static_cast<std::uint32_t>(t) << 16) | static_cast<std::uint32_t>(n);
  return true;
}

// A string table entry's name is its number, and 0 is a valid string id
// (MAKEINTRESOURCE(0) is a null pointer); other resources need a name.
bool IsStringTable(LPCSTR type) { return type && NameNumber(type) == 6; }
bool HasName(const QX_RESOURCE &e) { return e.name || IsStringTable(e.type); }

void IndexNumbers(ModuleResources &m) {
  m.by_number.clear();
  for (const Registration &reg : m.lists) {
    for (UINT i = 0; i < reg.count; ++i) {
      const QX_RESOURCE &e = reg.entries[i];
      std::uint32_t key;
      if (e.type && HasName(e) && NumberKey(e.type, e.name, key)) m.by_number.emplace(key, &e);
    }
  }
}

bool NameMatches(LPCSTR want, LPCSTR have) {
  const long w = NameNumber(want), h = NameNumber(have);
  if (w >= 0 || h >= 0) return w == h;
  return strcasecmp(want, have) == 0;
}

const QX_RESOURCE *Find(link_map *map, LPCSTR type, LPCSTR name, DWORD &error) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  error = ERROR_RESOURCE_TYPE_NOT_FOUND;
  auto it = r.by_module.find(map);
  if (it == r.by_module.end()) {
    error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return nullptr;
  }
  std::uint32_t key;
  if (NumberKey(type, name, key)) {
    auto found = it->second.by_number.find(key);
    if (found != it->second.by_number.end()) return found->second;
  }
  for (const Registration &reg : it->second.lists) {
    for (UINT i = 0; i < reg.count; ++i) {
      const QX_RESOURCE &e = reg.entries[i];
      if (!e.type || !NameMatches(type, e.type)) continue;
      error = ERROR_RESOURCE_NAME_NOT_FOUND;
      if (HasName(e) && NameMatches(name, e.name)) return &e;
    }
  }
  return nullptr;
}

HANDLE HandleFor(const QX_RESOURCE *entry) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.handles.find(entry);
  if (it != r.handles.end()) return it->second;
  HANDLE h = InsertHandle(std::make_shared<ResourceObject>(entry));
  if (h) r.handles[entry] = h;
  return h;
}

const QX_RESOURCE *EntryOf(HANDLE h) {
  auto object = Lookup<ResourceObject>(h, ObjectKind::Other);
  return object ? object->entry : nullptr;
}

template <class T>
const T *FindTyped(HMODULE module, LPCSTR type, LPCSTR name) {
  const QX_RESOURCE *e = FindModuleResource(module, type, name);
  if (!e || !e->data || e->size < sizeof(T)) return nullptr;
  return static_cast<const T *>(e->data);
}

}  // namespace

const QX_RESOURCE *FindModuleResource(HMODULE module, LPCSTR type, LPCSTR name) {
  if (!type || (!name && !IsStringTable(type))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto m = ModuleFromHandle(module);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  DWORD error = 0;
  const QX_RESOURCE *e = Find(m->map, type, name, error);
  if (!e) SetLastError(error);
  return e;
}

const QX_DIALOG *FindDialogResource(HMODULE module, LPCSTR name) {
  return FindTyped<QX_DIALOG>(module, RT_DIALOG, name);
}
const QX_MENU *FindMenuResource(HMODULE module, LPCSTR name) { return FindTyped<QX_MENU>(module, RT_MENU, name); }
const QX_ACCELERATORS *FindAcceleratorResource(HMODULE module, LPCSTR name) {
  return FindTyped<QX_ACCELERATORS>(module, RT_ACCELERATOR, name);
}
const QX_VERSION *FindVersionResource(HMODULE module) {
  return FindTyped<QX_VERSION>(module, RT_VERSION, MAKEINTRESOURCE(VS_VERSION_INFO));
}

bool FindResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, ResourceBytes &out) {
  const QX_RESOURCE *e = FindModuleResource(module, type, name);
  if (!e || !e->data) return false;
  out.data = static_cast<const BYTE *>(e->data);
  out.size = e->size;
  return true;
}

}  // namespace qx

extern "C" {

void WINAPI QxRegisterResources(const void *anchor, const QX_RESOURCE *resources, UINT count) {
  link_map *map = qx::LinkMapOf(anchor);
  if (!map || !resources) return;
  qx::Registry &r = qx::TheRegistry();
  std::lock_guard guard(r.lock);
  qx::ModuleResources &m = r.by_module[map];
  m.lists.push_back(qx::Registration{anchor, resources, count});
  qx::IndexNumbers(m);
}

void WINAPI QxUnregisterResources(const void *anchor) {
  link_map *map = qx::LinkMapOf(anchor);
  qx::Registry &r = qx::TheRegistry();
  std::vector<HANDLE> withdrawn;
  {
    std::lock_guard guard(r.lock);
    auto it = r.by_module.find(map);
    if (it == r.by_module.end()) return;
    auto &regs = it->second.lists;
    for (auto reg = regs.begin(); reg != regs.end();) {
      if (reg->anchor != anchor) {
        ++reg;
        continue;
      }
      for (UINT i = 0; i < reg->count; ++i) {
        auto h = r.handles.find(&reg->entries[i]);
        if (h == r.handles.end()) continue;
        withdrawn.push_back(h->second);
        r.handles.erase(h);
      }
      reg = regs.erase(reg);
    }
    if (regs.empty())
      r.by_module.erase(it);
    else
      qx::IndexNumbers(it->second);
  }
  for (HANDLE h : withdrawn) qx::RemoveHandle(h);
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  const QX_RESOURCE *e = qx::FindModuleResource(module, type, name);
  if (!e) return nullptr;
  HANDLE h = qx::HandleFor(e);
  if (!h) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return static_cast<HRSRC>(h);
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC info) {
  if (!qx::EntryOf(info)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<HGLOBAL>(info);
}

LPVOID WINAPI LockResource(HGLOBAL data) {
  const QX_RESOURCE *e = qx::EntryOf(data);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Resources are read-only static data; the Win32 signature has no const.
  return const_cast<void *>(e->data);
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC info) {
  const QX_RESOURCE *e = qx::EntryOf(info);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return e->size;
}

BOOL WINAPI FreeResource(HGLOBAL data) {
  // Resources live as long as their module; there is nothing to free.
  return FALSE;
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (!buffer || size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = '\0';
  if (id > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const QX_RESOURCE *e = qx::FindModuleResource(instance, RT_STRING, MAKEINTRESOURCE(id));
  if (!e || !e->data) return 0;
  const char *text = static_cast<const char *>(e->data);
  // A string longer than the buffer is cut to size - 1 characters; the
  // result is the number of characters copied, without the terminator.
  const size_t length = strnlen(text, e->size);
  const size_t n = std::min(length, static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // extern "C"
