// The extension loader: host extensions are served from inside this library; any other name is
// a module, loaded from the module directory and started through its exports.
#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "host/qxmodule.h"
#include "host/qxplatform.h"
#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kPerfEyeCatcher = 0x46524550;  // "PERF"

struct LoadedModule {
  void *library;
  void *base;  // where the library is mapped
  uintptr_t stamp[QX_VERSION_STAMP_WORDS];
};

std::mutex modulesMutex;
std::unordered_map<void *, LoadedModule> loadedModules;  // by module record

// qxperf: its record is its header alone.
void releasePerf(void *record) {
  delete static_cast<QXPerfExtension *>(record);
  live().extensions--;
}

void *newPerfExtension() {
  live().extensions++;
  return new QXPerfExtension{{kPerfEyeCatcher, nullptr, releasePerf}};
}

// A holder releases a module through word 2 of its record: the module's own teardown, then
// the library goes.
void releaseModule(void *record) {
  void *library;
  {
    std::lock_guard<std::mutex> lock(modulesMutex);
    auto it = loadedModules.find(record);
    if (it == loadedModules.end()) return;
    library = it->second.library;
    loadedModules.erase(it);
  }
  static_cast<QXModuleFrame *>(record)->moduleTerminate(record);
  dlclose(library);
  live().extensions--;
}

void reportMissing(QXMessageContext *context, const std::u16string &name, const char *detail) {
  report(context, QX_SEVERITY_ERROR, QX_IO_NOT_FOUND, name.c_str());
  if (context && detail) {
    std::u16string note = toQXChar(detail);
    context->reportText(context, QX_SEVERITY_NOTE, note.c_str(), static_cast<int32_t>(note.size()));
  }
}

template <typename Function>
Function exported(void *library, const char *symbol) {
  return reinterpret_cast<Function>(dlsym(library, symbol));
}

void *loadModule(QXKernel *kernel, const std::string &name, const std::u16string &qxName,
                 QXMessageContext *context) {
  std::string path =
      moduleDirectory() + QX_DIR_SEPARATOR + QX_LIBRARY_PREFIX + name + QX_LIBRARY_SUFFIX;
  void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    reportMissing(context, qxName, dlerror());
    return nullptr;
  }
  auto extent = exported<QXExtentFunction>(library, "qxextent");
  auto vercn1 = exported<QXVercn1Function>(library, "qxvercn1");
  auto entry = exported<QXModuleEntryFunction>(library, name.c_str());
  if (!extent || !vercn1 || !entry) {
    reportMissing(context, qxName, "the library lacks the module exports");
    dlclose(library);
    return nullptr;
  }
  Dl_info info;
  LoadedModule module = {
      library, dladdr(reinterpret_cast<void *>(entry), &info) ? info.dli_fbase : nullptr, {}};
  extent(kernel);
  vercn1(module.stamp);
  void *record = entry(kernel, context);
  if (!record) {
    dlclose(library);
    return nullptr;
  }
  static_cast<QXModuleFrame *>(record)->header.release = releaseModule;
  std::lock_guard<std::mutex> lock(modulesMutex);
  loadedModules.emplace(record, module);
  live().extensions++;
  return record;
}

}  // namespace

std::string hostLibraryPath() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void *>(&hostLibraryPath), &info) || !info.dli_fname) return "";
  return info.dli_fname;
}

std::string hostLibraryDirectory() {
  std::string path = hostLibraryPath();
  size_t slash = path.rfind(QX_DIR_SEPARATOR);
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string moduleDirectory() {
  const char *directory = getenv("QXHOST_MODULE_DIR");
  return directory && *directory ? directory : hostLibraryDirectory();
}

void *loadExtension(QXKernel *kernel, const QXChar *name, int32_t length,
                    QXMessageContext *context) {
  if (!name || length <= 0) {
    report(context, QX_SEVERITY_ERROR, QX_MISSING_ARGUMENT);
    return nullptr;
  }
  std::u16string qxName(name, static_cast<size_t>(length));
  std::string narrow = fromQXChar(qxName);
  if (shouldFail(Fault::ExtensionLoad, narrow)) {
    reportMissing(context, qxName, nullptr);
    return nullptr;
  }
  if (narrow == "qxjni") return newJniExtension();
  if (narrow == "qxperf") return newPerfExtension();
  if (narrow == "qxexml") return newExmlExtension();
  if (narrow == "qxioe") return newIoeExtension();
  return loadModule(kernel, narrow, qxName, context);
}

bool isModuleCode(void *address) {
  Dl_info info;
  if (!dladdr(address, &info)) return false;
  std::lock_guard<std::mutex> lock(modulesMutex);
  for (const auto &[record, module] : loadedModules) {
    if (module.base == info.dli_fbase) return true;
  }
  return false;
}

bool versionStampOf(const void *moduleRecord, uintptr_t *stamp) {
  std::lock_guard<std::mutex> lock(modulesMutex);
  auto it = loadedModules.find(const_cast<void *>(moduleRecord));
  if (it == loadedModules.end()) return false;
  std::copy(std::begin(it->second.stamp), std::end(it->second.stamp), stamp);
  return true;
}

}  // namespace hostkernel
