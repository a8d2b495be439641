// Loads each module DLL as the host kernel does and calls what needs no JVM: qxextver, qxvercn1,
// and the entry with a pool that has no room, which must report 0x803FC002 once and give the
// pool back. Run under wine by scripts/cross-build-windows.sh.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/qxmodule.h"

namespace {

int failures = 0;

void check(bool condition, const char *module, const char *claim) {
  std::printf("  %s %s: %s\n", condition ? "ok  " : "FAIL", module, claim);
  if (!condition) failures++;
}

struct Recorded {
  int reports = 0;
  uint32_t code = 0;
  int poolsReleased = 0;
} recorded;

void *noRoom(QXPool *, size_t, uint32_t) {
  return nullptr;
}

void releasePool(void *) {
  recorded.poolsReleased++;
}

QXPool pool = {{0, nullptr, releasePool}, noRoom, nullptr, nullptr};

QXPool *createPool(QXKernel *, const QXPoolAttributes *, int32_t, const char *) {
  return &pool;
}

int32_t reportStatus(QXMessageContext *, int32_t, uint32_t code, va_list) {
  recorded.reports++;
  recorded.code = code;
  return 0;
}

// GetProcAddress gives a generic pointer; the export's own type is known from its name.
template <typename Function>
Function exported(HMODULE library, const char *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

void callModule(const char *directory, const char *name) {
  char path[MAX_PATH];
  std::snprintf(path, sizeof path, "%s\\%s.dll", directory, name);
  HMODULE library = LoadLibraryA(path);
  check(library != nullptr, name, "loads");
  if (!library) return;
  auto extver = exported<QXExtverFunction>(library, "qxextver");
  auto vercn1 = exported<QXVercn1Function>(library, "qxvercn1");
  auto entry = exported<QXModuleEntryFunction>(library, name);
  check(extver && vercn1 && entry && exported<QXExtentFunction>(library, "qxextent"), name,
        "exports qxextent, qxextver, qxvercn1 and its entry");
  if (extver && vercn1 && entry) {
    QXKernel kernel = {};
    kernel.createPool = createPool;
    int32_t major = 0, minor = 0;
    check(extver(&kernel, &major, &minor) == 0 && major == 5 && minor == 1, name,
          "qxextver gives interface 5.1");

    uintptr_t stamp[QX_VERSION_STAMP_WORDS + 1];
    std::memset(stamp, 0xAB, sizeof stamp);
    check(vercn1(stamp) == 0 && stamp[QX_VERSION_STAMP_WORDS - 1] == 0 &&
              stamp[QX_VERSION_STAMP_WORDS] == static_cast<uintptr_t>(0xABABABABu),
          name, "qxvercn1 writes exactly 104 bytes, the last word 0");
    check(std::strcmp(reinterpret_cast<const char *>(stamp[15]), "win32-x86") == 0 &&
              std::strcmp(reinterpret_cast<const char *>(stamp[4]), "qxdorn") == 0,
          name, "the stamp names the family and win32-x86");

    QXMessageContext context = {};
    context.reportStatus = reportStatus;
    recorded = Recorded{};
    check(entry(&kernel, &context) == nullptr && recorded.reports == 1 &&
              recorded.code == QX_OUT_OF_MEMORY && recorded.poolsReleased == 1,
          name, "the entry without room reports 0x803FC002 once and releases its pool");
  }
  check(FreeLibrary(library) != 0, name, "unloads");
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 2; i < argc; i++) callModule(argv[1], argv[i]);
  std::printf("%s\n", failures ? "load_modules: FAILED" : "load_modules: passed");
  return failures ? 1 : 0;
}
