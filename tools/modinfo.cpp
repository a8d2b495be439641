// Loads a module through the host kernel like the storage engine does and prints its version
// stamp: the quickest check that an installation is complete.
#include <cstdio>
#include <string>

#include "host/qxmodule.h"
#include "hostkernel/hostkernel.h"

namespace {

const char *textWord(uintptr_t word) {
  return word ? reinterpret_cast<const char *>(word) : "";
}

void printStamp(const uintptr_t *stamp) {
  printf("release:  %s\n", textWord(stamp[0]));
  printf("source:   %s\n", textWord(stamp[1]));
  printf("built:    %llu (seconds since 1970 UTC)\n", static_cast<unsigned long long>(stamp[3]));
  printf("family:   %s\n", textWord(stamp[4]));
  printf("token:    %s (%s)\n", textWord(stamp[5]), textWord(stamp[7]));
  printf("platform: %s\n", textWord(stamp[15]));
}

}  // namespace

int main(int argc, char **argv) {
  std::string name = argc > 1 ? argv[1] : "jvmlink";
  hostkernel::MessageContext messages;
  std::u16string qxName = hostkernel::toQXChar(name);
  QXKernel *kernel = hostkernel::kernel();
  void *record = kernel->loadExtension(kernel, qxName.c_str(), static_cast<int32_t>(qxName.size()),
                                       messages.get());
  if (!record) {
    fprintf(stderr, "%s: the module did not start\n", name.c_str());
    return 1;
  }
  auto *frame = static_cast<QXModuleFrame *>(record);
  int32_t version, release, modification;
  frame->moduleVersion(record, &version, &release, &modification);
  printf("module:   %s %d.%d.%d\n", name.c_str(), version, release, modification);
  uintptr_t stamp[QX_VERSION_STAMP_WORDS];
  if (hostkernel::versionStampOf(record, stamp)) printStamp(stamp);
  frame->header.release(record);
  return 0;
}
