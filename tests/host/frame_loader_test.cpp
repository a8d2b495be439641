// The extension loader and the shared module frame, through a module made of the frame alone.
#include <dlfcn.h>

#include <cstring>
#include <set>

#include "host/qxmodule.h"
#include "tests/support/test_support.h"

namespace {

using hostkernel::Fault;

using testsupport::libraryPath;

bool libraryLoaded(const std::string &module) {
  void *handle = dlopen(libraryPath(module).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

class LoaderTest : public testsupport::HostTest {
 protected:
  void *load(const std::u16string &name) {
    QXKernel *kernel = hostkernel::kernel();
    return kernel->loadExtension(kernel, name.c_str(), static_cast<int32_t>(name.size()),
                                 messages.get());
  }
};

TEST_F(LoaderTest, ModuleStartsWithACompleteFrameAndReleaseUnloadsIt) {
  hostkernel::Counters before = hostkernel::liveCounters();
  void *record = load(u"frameprobe");
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(messages.reports().empty());
  EXPECT_TRUE(libraryLoaded("frameprobe"));
  auto *frame = static_cast<QXModuleFrame *>(record);
  EXPECT_EQ(memcmp(record, "nevo", 4), 0);
  EXPECT_EQ(frame->header.reserved, nullptr);
  EXPECT_EQ(frame->reserved5, nullptr);
  EXPECT_NE(frame->header.release, nullptr) << "the host writes the release word";
  hostkernel::Counters running = hostkernel::liveCounters();
  EXPECT_EQ(running.pools, before.pools + 1);
  EXPECT_EQ(running.extensions, before.extensions + 2);  // the module and its qxperf

  frame->header.release(record);
  EXPECT_EQ(hostkernel::liveCounters(), before);
  EXPECT_FALSE(libraryLoaded("frameprobe"));
}

TEST_F(LoaderTest, StandardQueriesAnswer511And100) {
  void *record = load(u"frameprobe");
  ASSERT_NE(record, nullptr);
  auto *frame = static_cast<QXModuleFrame *>(record);
  int32_t a = -1, b = -1, c = -1;
  EXPECT_EQ(frame->moduleVersion(record, &a, &b, &c), 0);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({5, 1, 1}));
  EXPECT_EQ(frame->moduleAttributes(record, &a, &b, &c), 0);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({1, 0, 0}));
  EXPECT_EQ(frame->moduleTerminate(nullptr), static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_TRUE(messages.reports().empty());
  frame->header.release(record);
}

TEST_F(LoaderTest, MissingModuleGivesNullAfterAReport) {
  hostkernel::Counters before = hostkernel::liveCounters();
  EXPECT_EQ(load(u"nosuchmodule"), nullptr);
  std::vector<hostkernel::Report> reports = messages.reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], hostkernel::statusReport(4, QX_IO_NOT_FOUND, {"nosuchmodule"}));
  EXPECT_EQ(reports[1].severity, QX_SEVERITY_NOTE);  // the loader's own reason
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

TEST_F(LoaderTest, FailedStartUpsLeaveNothingBehind) {
  hostkernel::Counters before = hostkernel::liveCounters();
  hostkernel::injectFault(Fault::ExtensionLoad, 1, "qxperf");
  EXPECT_EQ(load(u"frameprobe"), nullptr);
  EXPECT_EQ(
      messages.reports(),
      (std::vector<hostkernel::Report>{hostkernel::statusReport(4, QX_IO_NOT_FOUND, {"qxperf"})}));
  hostkernel::injectFault(Fault::Allocation, 2, "FRAMEPROBE Pool");
  EXPECT_EQ(load(u"frameprobe"), nullptr);
  hostkernel::injectFault(Fault::ExtensionLoad, 1, "frameprobe");
  EXPECT_EQ(load(u"frameprobe"), nullptr);
  EXPECT_EQ(hostkernel::liveCounters(), before);
  EXPECT_FALSE(libraryLoaded("frameprobe"));
}

TEST_F(LoaderTest, BuiltInExtensionsAreCountedUntilReleased) {
  hostkernel::Counters before = hostkernel::liveCounters();
  auto *jni = static_cast<QXJniExtension *>(load(u"qxjni"));
  auto *perf = static_cast<QXPerfExtension *>(load(u"qxperf"));
  ASSERT_TRUE(jni && perf);
  EXPECT_EQ(hostkernel::liveCounters().extensions, before.extensions + 2);
  jni->header.release(jni);
  perf->header.release(perf);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

// Loads the probe library directly, as a host that calls the exports itself would.
class FrameExportsTest : public testsupport::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_FALSE(libraryLoaded("frameprobe"));
    library = dlopen(libraryPath("frameprobe").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
  }
  void TearDown() override {
    dlclose(library);
    HostTest::TearDown();
  }
  template <typename Function>
  Function symbol(const char *name) {
    return reinterpret_cast<Function>(dlsym(library, name));
  }
  void *library = nullptr;
};

TEST_F(FrameExportsTest, QxextverAloneStoresTheKernelRecordForTheEntry) {
  hostkernel::Counters before = hostkernel::liveCounters();
  int32_t major = 0, minor = 0;
  ASSERT_EQ(symbol<QXExtverFunction>("qxextver")(hostkernel::kernel(), &major, &minor), 0);
  EXPECT_EQ(major, 5);
  EXPECT_EQ(minor, 1);
  void *record = symbol<QXModuleEntryFunction>("frameprobe")(hostkernel::kernel(), messages.get());
  ASSERT_NE(record, nullptr) << "the entry loads qxperf through the stored record";
  EXPECT_EQ(static_cast<QXModuleFrame *>(record)->moduleTerminate(record), 0);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

TEST_F(FrameExportsTest, Qxvercn1WritesExactlyTheStamp) {
  uintptr_t buffer[QX_VERSION_STAMP_WORDS + 1];
  memset(buffer, 0xAB, sizeof buffer);
  ASSERT_EQ(symbol<QXVercn1Function>("qxvercn1")(buffer), 0);
  uintptr_t untouched;
  memset(&untouched, 0xAB, sizeof untouched);
  EXPECT_EQ(buffer[QX_VERSION_STAMP_WORDS], untouched) << "written past the 26 words";
  EXPECT_EQ(buffer[QX_VERSION_STAMP_WORDS - 1], 0u);
  auto text = [&](int word) { return std::string(reinterpret_cast<const char *>(buffer[word])); };
  EXPECT_FALSE(text(0).empty());
  EXPECT_EQ(text(2), "");
  EXPECT_GT(buffer[3], 1700000000u) << "build time in seconds since 1970";
  EXPECT_EQ(text(4), "qxdorn");
  EXPECT_EQ(text(6), "qxdorn");
  EXPECT_EQ(text(9), "version");
  EXPECT_EQ(text(12).size(), 65u);
  EXPECT_EQ(text(12).rfind("HOTFIX=", 0), 0u);
  EXPECT_EQ(text(14).size(), 65u);
  EXPECT_FALSE(text(15).empty());
  for (int word = 16; word < QX_VERSION_STAMP_WORDS; word++) EXPECT_EQ(buffer[word], 0u) << word;
}

TEST(ModuleExportsTest, TheFrameExportsOnlyItsThreeFunctionsAndTheEntry) {
  EXPECT_EQ(testsupport::exportedSymbols("frameprobe"),
            (std::set<std::string>{"qxextent", "qxextver", "qxvercn1", "frameprobe"}));
}

}  // namespace
