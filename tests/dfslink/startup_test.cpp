// The file-system module's start-up in its exact order, its clean-up, and its table.
#include <dlfcn.h>

#include <cstring>

#include "tests/dfslink/dfs_fixture.h"

namespace testsupport {
namespace {

class DfsStartupTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    baseline = hostkernel::liveCounters();
  }
  DfsLinkState *load() {
    QXKernel *kernel = hostkernel::kernel();
    return static_cast<DfsLinkState *>(
        kernel->loadExtension(kernel, u"dfslink", 7, messages.get()));
  }
  hostkernel::Counters baseline;
};

TEST_F(DfsStartupTest, ReturnsACompleteRecordAndTerminates) {
  DfsLinkState *dfs = load();
  ASSERT_NE(dfs, nullptr);
  EXPECT_TRUE(messages.reports().empty());
  EXPECT_EQ(memcmp(dfs, "nevo", 4), 0);
  EXPECT_TRUE(dfs->exml && dfs->perf && dfs->nls && dfs->jvm && dfs->ioe && dfs->pool &&
              dfs->openLock);
  EXPECT_EQ(dfs->host, hostkernel::kernel());
  EXPECT_EQ(dfs->javaCompiler, nullptr);
  EXPECT_EQ(dfs->utf8Encoding, 20);
  EXPECT_TRUE(dfs->toUtf8 && dfs->fromUtf8 && dfs->compilerToUtf8 && dfs->toCompiler);
  EXPECT_STREQ(dfs->keyBufferSize, "io.file.buffer.size");
  EXPECT_STREQ(dfs->keyReplication, "dfs.replication");
  EXPECT_STREQ(dfs->keyBlockSize, "dfs.block.size");
  EXPECT_EQ(dfs->openFiles.capacity, 100);
  EXPECT_EQ(dfs->openFiles.count, 0);
  EXPECT_NE(dfs->openFiles.items, nullptr);
  auto **slots = reinterpret_cast<void **>(&dfs->operations);
  ASSERT_EQ(sizeof(DfsOperations) / sizeof(void *), 40u);
  for (size_t i = 0; i < 40; i++) EXPECT_NE(slots[i], nullptr) << "slot " << i;
  int32_t a, b, c;
  dfs->frame.moduleVersion(dfs, &a, &b, &c);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({5, 1, 1}));
  dfs->frame.moduleAttributes(dfs, &a, &b, &c);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({1, 0, 0}));
  EXPECT_EQ(dfs->frame.moduleTerminate(nullptr), static_cast<int32_t>(QX_MISSING_ARGUMENT));
  dfs->frame.header.release(dfs);
  EXPECT_EQ(hostkernel::liveCounters(), baseline);
}

struct DfsStartupFailure {
  const char *what;
  Fault fault;
  int nth;
  const char *name;
  std::vector<Report> expected;
};

class DfsStartupFailureTest : public DfsStartupTest,
                              public ::testing::WithParamInterface<DfsStartupFailure> {};

TEST_P(DfsStartupFailureTest, ReportsWhyAndLeavesNothingBehind) {
  const DfsStartupFailure &failure = GetParam();
  hostkernel::injectFault(failure.fault, failure.nth, failure.name);
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(messages.reports(), failure.expected);
  EXPECT_FALSE(hostkernel::faultPending(failure.fault)) << "the fault did not fire";
  EXPECT_EQ(hostkernel::liveCounters(), baseline);
}

Report notFound(const char *name) {
  return statusReport(4, QX_IO_NOT_FOUND, {name});
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, DfsStartupFailureTest,
    ::testing::Values(
        DfsStartupFailure{"pool", Fault::Allocation, 1, "DFSLINK Pool", {}},
        DfsStartupFailure{
            "record", Fault::Allocation, 2, "DFSLINK Pool", {statusReport(4, QX_OUT_OF_MEMORY)}},
        DfsStartupFailure{"open file list",
                          Fault::Allocation,
                          3,
                          "DFSLINK Pool",
                          {statusReport(4, QX_OUT_OF_MEMORY)}},
        DfsStartupFailure{"openLock",
                          Fault::MutexCreation,
                          1,
                          "dfslink ext handle",
                          {statusReport(4, 0x86BFF827)}},
        DfsStartupFailure{"qxperf",
                          Fault::ExtensionLoad,
                          1,
                          "qxperf",
                          {notFound("qxperf"), statusReport(4, 0x86BFF825, {"qxperf"})}},
        DfsStartupFailure{"qxexml",
                          Fault::ExtensionLoad,
                          1,
                          "qxexml",
                          {notFound("qxexml"), statusReport(4, 0x86BFF825, {"qxexml"})}},
        DfsStartupFailure{"qxioe",
                          Fault::ExtensionLoad,
                          1,
                          "qxioe",
                          {notFound("qxioe"), statusReport(4, 0x86BFF825, {"qxioe"})}},
        DfsStartupFailure{"toUtf8",
                          Fault::TranscoderCreation,
                          1,
                          "25->20",
                          {statusReport(4, QX_OPERATION_FAILED)}},
        DfsStartupFailure{"fromUtf8",
                          Fault::TranscoderCreation,
                          1,
                          "20->25",
                          {statusReport(4, QX_OPERATION_FAILED)}},
        DfsStartupFailure{"compilerToUtf8",
                          Fault::TranscoderCreation,
                          1,
                          "62->20",
                          {statusReport(4, 0x86BFF826, {"compiler->utf8"})}},
        DfsStartupFailure{"toCompiler",
                          Fault::TranscoderCreation,
                          1,
                          "25->62",
                          {statusReport(4, 0x86BFF826, {"QX_to_compiler"})}},
        DfsStartupFailure{"key conversion",
                          Fault::Conversion,
                          2,
                          "62->20",
                          {statusReport(4, 0x86BFF806, {"dfslink", "compiler->utf8"})}},
        DfsStartupFailure{"jvmlink missing",
                          Fault::ExtensionLoad,
                          1,
                          "jvmlink",
                          {notFound("jvmlink"), statusReport(4, QX_OPERATION_FAILED)}},
        DfsStartupFailure{"jvmlink start-up",
                          Fault::MutexCreation,
                          1,
                          "dorn hdfsjvmMutex",
                          {statusReport(4, 0x86BFF013), statusReport(4, QX_OPERATION_FAILED)}}),
    nameOf<DfsStartupFailure>);

TEST_F(DfsStartupTest, EveryFailedAllocationIsClean) {
  for (int nth = 1;; nth++) {
    hostkernel::injectFault(Fault::Allocation, nth);
    DfsLinkState *dfs = load();
    bool fired = !hostkernel::faultPending(Fault::Allocation);
    hostkernel::clearFaults();
    if (dfs) {
      EXPECT_FALSE(fired) << "start-up succeeded although allocation " << nth << " failed";
      dfs->frame.header.release(dfs);
      EXPECT_EQ(hostkernel::liveCounters(), baseline);
      break;
    }
    EXPECT_TRUE(fired);
    EXPECT_EQ(hostkernel::liveCounters(), baseline) << "after failing allocation " << nth;
    ASSERT_LT(nth, 100);
  }
}

TEST_F(DfsStartupTest, MissingTranscodingServiceIsReported) {
  void *library = dlopen(QX_LIBRARY_DIR "/libdfslink.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  QXKernel withoutNls = *hostkernel::kernel();
  withoutNls.qxnls = nullptr;
  reinterpret_cast<QXExtentFunction>(dlsym(library, "qxextent"))(&withoutNls);
  auto entry = reinterpret_cast<QXModuleEntryFunction>(dlsym(library, "dfslink"));
  EXPECT_EQ(entry(&withoutNls, messages.get()), nullptr);
  EXPECT_EQ(messages.reports(), std::vector<Report>({statusReport(4, 0x86BFF825, {"qxnls"})}));
  dlclose(library);
  EXPECT_EQ(hostkernel::liveCounters(), baseline);
}

TEST(DfslinkExportsTest, ExportsOnlyTheFrameAndItsEntry) {
  EXPECT_EQ(exportedSymbols("dfslink"),
            (std::set<std::string>{"qxextent", "qxextver", "qxvercn1", "dfslink"}));
}

// Without a kept class path, without the engine's classes.
using JavaToolsOutsideTest = DfsTest;

TEST_F(JavaToolsOutsideTest, NeedTheirClassPathAndClasses) {
  const char *const sources[] = {"A.java", ""};
  EXPECT_EQ(ops().javaComp(dfs, context(), sources, "/tmp", nullptr, nullptr), 0x86BFF822u);
  const char *const arguments[] = {""};
  EXPECT_EQ(ops().javaJar(dfs, context(), "x.jar", "X", arguments), 0x86BFF80Fu);
  EXPECT_EQ(ops().javaMap(dfs, context(), arguments, arguments), 0x86BFF81Au);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF822, {"javaComp"}),
                                            statusReport(4, 0x86BFF80F, {"javaJar"}),
                                            statusReport(4, 0x86BFF81A, {"javaMap"})}))
      << "a missing entry class reports no exception";
}

}  // namespace
}  // namespace testsupport
