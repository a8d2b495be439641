// Names, attributes and listings on the local file system and a real HDFS, each success checked
// through Hadoop's own client or the local file system.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class NamespaceTest : public HadoopTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    if (onHdfs()) {
      static int counter = 0;
      root = "/ns-" + std::to_string(counter++);
      fs = connectHdfs();
    } else {
      root = local = temporaryDirectory();
      fs = connect(u"local", 0);
    }
    ASSERT_NE(fs, nullptr);
  }
  void TearDown() override {
    if (!local.empty()) removeTree(local);
    HadoopTest::TearDown();
  }
  bool onHdfs() const { return GetParam(); }
  std::u16string at(const std::string &name) { return qx(root + "/" + name); }
  std::string utf8At(const std::string &name) { return root + "/" + name; }

  hdfsPathInfo *info(const std::string &name) {
    int32_t status = 0;
    return ops().hdfsGetPathInfo(dfs, context(), &status, fs, at(name).c_str());
  }
  // A field of Java's FileStatus of a path (a long method).
  jlong javaFigure(const std::string &name, const char *method) {
    LocalRef<jobject> path = javaPath(at(name));
    LocalRef<jobject> status(env, callJava(fs, "org/apache/hadoop/fs/FileSystem", "getFileStatus",
                                           "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/"
                                           "FileStatus;",
                                           path.get()));
    jlong value = 0;
    EXPECT_EQ(
        bridgeOps().invokeMethod(dfs->jvm, context(), env, &value, nullptr, JVMLINK_INSTANCE,
                                 status.get(), "org/apache/hadoop/fs/FileStatus", 0, method, "()J"),
        0);
    return value;
  }

  std::string root, local;
  hdfsFS fs = nullptr;
};

TEST_P(NamespaceTest, DirectoriesAreMadeRenamedListedAndDeleted) {
  int32_t status = 7;
  EXPECT_EQ(ops().hdfsExists(dfs, context(), &status, fs, at("d").c_str()), -1);
  EXPECT_EQ(status, 7) << "a missing path writes no status";
  ASSERT_EQ(ops().hdfsCreateDirectory(dfs, context(), &status, fs, at("d/e").c_str()), 0);
  EXPECT_EQ(ops().hdfsExists(dfs, context(), &status, fs, at("d/e").c_str()), 0);
  writeAll(fs, utf8At("d/file"), "12345");
  ASSERT_EQ(
      ops().hdfsRename(dfs, context(), &status, fs, at("d/file").c_str(), at("d/renamed").c_str()),
      0);
  EXPECT_EQ(namesIn(fs, at("d")), std::vector<std::u16string>({u"e", u"renamed"}));

  int32_t count = -1;
  hdfsPathInfo *entries = nullptr;
  ASSERT_EQ(ops().hdfsListDirectory(dfs, context(), fs, at("d").c_str(), &count, &entries), 0);
  ASSERT_EQ(count, 2) << "the local file system's checksum files are not listed";
  std::map<std::string, std::pair<int32_t, int64_t>> seen;
  for (int32_t i = 0; i < count; i++) {
    std::string entry = entries[i].name;
    // The record is packed: its fields are read by value, never bound by reference.
    seen[entry.substr(entry.rfind('/') + 1)] = {int32_t{entries[i].kind}, int64_t{entries[i].size}};
  }
  EXPECT_EQ(seen["e"], std::make_pair(int32_t{'D'}, int64_t{0}));
  EXPECT_EQ(seen["renamed"], std::make_pair(int32_t{'F'}, int64_t{5}));
  ops().hdfsReleasePathInfo(dfs, nullptr, entries, count);

  ASSERT_EQ(ops().hdfsCreateDirectory(dfs, context(), &status, fs, at("empty").c_str()), 0);
  count = -1;
  entries = reinterpret_cast<hdfsPathInfo *>(0x1);
  EXPECT_EQ(ops().hdfsListDirectory(dfs, context(), fs, at("empty").c_str(), &count, &entries), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(entries, nullptr);

  EXPECT_EQ(ops().hdfsDelete(dfs, context(), &status, fs, at("d").c_str()), 0);
  EXPECT_EQ(ops().hdfsExists(dfs, context(), &status, fs, at("d").c_str()), -1);
  EXPECT_EQ(ops().hdfsDelete(dfs, context(), &status, fs, at("d").c_str()), -1) << "gone already";
  EXPECT_TRUE(reports().empty());
}

TEST_P(NamespaceTest, TheWorkingDirectoryIsSetReadAndNeverWrittenPastTheBuffer) {
  int32_t status = 0;
  ASSERT_EQ(ops().hdfsCreateDirectory(dfs, context(), &status, fs, at("wd").c_str()), 0);
  ASSERT_EQ(ops().hdfsSetWorkingDirectory(dfs, context(), &status, fs, at("wd").c_str()), 0);
  writeAll(fs, "relative", "r");  // resolved against the working directory
  EXPECT_EQ(ops().hdfsExists(dfs, context(), &status, fs, at("wd/relative").c_str()), 0);

  std::u16string expected = at("wd");
  std::vector<QXChar> buffer(expected.size() + 1 + 8, u'#');  // 8 guard units
  int32_t exact = static_cast<int32_t>(sizeof(QXChar) * (expected.size() + 1));
  EXPECT_EQ(ops().hdfsGetWorkingDirectory(dfs, context(), &status, fs, buffer.data(), exact),
            buffer.data());
  EXPECT_EQ(std::u16string(buffer.data()), expected);
  EXPECT_TRUE(reports().empty());
  for (int32_t size : {exact - 2, 3, 2, 0, -4}) {
    std::fill(buffer.begin(), buffer.end(), u'#');
    status = 0;
    messages.clear();
    EXPECT_EQ(ops().hdfsGetWorkingDirectory(dfs, context(), &status, fs, buffer.data(), size),
              nullptr)
        << size;
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), u'#'), static_cast<long>(buffer.size()))
        << "nothing written for size " << size;
    EXPECT_EQ(status, 0) << "refused, not cut: " << size;
    EXPECT_TRUE(reports().empty()) << size;
  }
  messages.clear();
  EXPECT_EQ(ops().hdfsGetWorkingDirectory(dfs, context(), &status, fs, nullptr, 100), nullptr);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_MISSING_ARGUMENT)}));
}

TEST_P(NamespaceTest, ModeTimesAndReplicationAreSetAndReadBack) {
  writeAll(fs, utf8At("attributes"), "abc");
  int32_t status = 0;
  std::string path = utf8At("attributes");
  EXPECT_EQ(ops().hdfsChmod(dfs, context(), &status, fs, path.c_str(), 0750), 0);
  EXPECT_EQ(ops().hdfsUtime(dfs, context(), &status, fs, path.c_str(), 1.5, 2.0009), 0);
  EXPECT_EQ(javaFigure("attributes", "getModificationTime"), 1500);
  if (onHdfs()) {
    EXPECT_EQ(javaFigure("attributes", "getAccessTime"), 2000);
    EXPECT_EQ(ops().hdfsSetReplication(dfs, context(), &status, fs, path.c_str(), 2), 0);
  }
  hdfsPathInfo *got = info("attributes");
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(int32_t{got->kind}, 'F');
  EXPECT_EQ(int64_t{got->size}, 3);
  EXPECT_EQ(int16_t{got->permissions}, 0750);
  EXPECT_EQ(double{got->lastModified}, 1.0) << "whole seconds";
  if (onHdfs()) {
    EXPECT_EQ(double{got->lastAccess}, 2.0);
    EXPECT_EQ(int16_t{got->replication}, 2);
  }
  EXPECT_EQ(std::string(got->name), onHdfs() ? testHdfs().uri() + path : "file:" + path);
  ops().hdfsReleasePathInfo(dfs, nullptr, got, 1);
  EXPECT_TRUE(reports().empty());
}

TEST_P(NamespaceTest, PathsOfExactly260BytesAreUsedAndLongerOnesFailSilently) {
  // Three bytes a character: the limit falls inside a character.
  size_t room = 260 - root.size() - 1;
  std::string fits = std::string(room % 3, 'x');
  while (fits.size() + 3 <= room) fits += "\u6587";
  int32_t status = 5;
  EXPECT_EQ(ops().hdfsCreateDirectory(dfs, context(), &status, fs, at(fits).c_str()), 0)
      << "exactly 260 bytes";
  std::string over = fits + "y";
  for (auto operation : {ops().hdfsExists, ops().hdfsDelete, ops().hdfsCreateDirectory,
                         ops().hdfsSetWorkingDirectory}) {
    EXPECT_EQ(operation(dfs, context(), &status, fs, at(over).c_str()), -1);
  }
  EXPECT_EQ(ops().hdfsRename(dfs, context(), &status, fs, at(fits).c_str(), at(over).c_str()), -1);
  EXPECT_EQ(status, 5);
  EXPECT_TRUE(reports().empty());
}

INSTANTIATE_TEST_SUITE_P(BothFileSystems, NamespaceTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Hdfs" : "Local"; });

using NamespaceHdfsTest = HadoopTest;

TEST_F(NamespaceHdfsTest, OwnerAndGroupAreSetAndCapacityIsTheClusters) {
  hdfsFS fs = connectHdfs();
  writeAll(fs, "/owned/file", "x");
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsChown(dfs, context(), &status, fs, "/owned/file", "alice", nullptr), 0);
  EXPECT_EQ(ops().hdfsChown(dfs, context(), &status, fs, "/owned/file", nullptr, "staff"), 0);
  int32_t none = 0;
  hdfsPathInfo *got = ops().hdfsGetPathInfo(dfs, context(), &none, fs, u"/owned/file");
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::string(got->owner), "alice");
  EXPECT_EQ(std::string(got->group), "staff");
  ops().hdfsReleasePathInfo(dfs, nullptr, got, 1);

  LocalRef<jobject> cluster(env, callJava(fs, "org/apache/hadoop/fs/FileSystem", "getStatus",
                                          "()Lorg/apache/hadoop/fs/FsStatus;"));
  jlong capacity = 0;
  bridgeOps().invokeMethod(dfs->jvm, context(), env, &capacity, nullptr, JVMLINK_INSTANCE,
                           cluster.get(), "org/apache/hadoop/fs/FsStatus", 0, "getCapacity", "()J");
  EXPECT_GT(capacity, 0);
  // The data nodes report their disks now and then: the figures may move a little.
  EXPECT_NEAR(static_cast<double>(ops().hdfsGetCapacity(dfs, context(), &status, fs)),
              static_cast<double>(capacity), capacity * 0.01);
  int64_t used = ops().hdfsGetUsed(dfs, context(), &status, fs);
  EXPECT_GT(used, 0);
  EXPECT_LE(used, capacity);
  EXPECT_EQ(ops().hdfsGetDefaultBlockSize(dfs, context(), &status, fs), 134217728);
  EXPECT_TRUE(reports().empty());

  hdfsFS localFs = connect(u"local", 0);
  EXPECT_EQ(ops().hdfsGetCapacity(dfs, context(), &status, localFs), -1);
  EXPECT_EQ(ops().hdfsGetUsed(dfs, context(), &status, localFs), -1);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF80B, {"hdfsGetCapacity"}),
                                            statusReport(4, 0x86BFF80B, {"hdfsGetUsed"})}));
}

TEST_F(NamespaceHdfsTest, HostsOfEachBlockAreThoseHadoopNames) {
  hdfsFS fs = connectHdfs();
  int32_t status = 0;
  FileHandle *out = ops().hdfsOpenFile(dfs, context(), &status, fs, u"/blocks/multi",
                                       HDFS_OPEN_WRITE, 0, 3, 1 << 20);
  ASSERT_NE(out, nullptr);
  std::string data = randomBytes((3 << 20) + 1000, 4);
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, data.data(),
                            static_cast<int32_t>(data.size())),
            static_cast<int32_t>(data.size()));
  close(fs, out);
  // A close waits for one replica of the last block; the others' data nodes report it a moment
  // later.
  char ***hosts = nullptr;
  std::vector<int> replicas;
  for (int attempt = 0; attempt < 100; attempt++) {
    ASSERT_EQ(ops().hdfsGetHosts(dfs, context(), fs, "/blocks/multi", 0, 1 << 30, &hosts), 0);
    ASSERT_NE(hosts, nullptr);
    replicas.clear();
    for (int block = 0; hosts[block]; block++) {
      replicas.push_back(0);
      for (; hosts[block][replicas.back()]; replicas.back()++) {
        EXPECT_STREQ(hosts[block][replicas.back()], "127.0.0.1");
      }
    }
    ops().hdfsReleaseHosts(dfs, nullptr, hosts);
    if (replicas == std::vector<int>(4, 3)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(replicas, std::vector<int>(4, 3)) << "replicas of each block";

  ASSERT_EQ(ops().hdfsGetHosts(dfs, context(), fs, "/blocks/multi", 10 << 20, 100, &hosts), 0);
  ASSERT_NE(hosts, nullptr);
  EXPECT_EQ(hosts[0], nullptr) << "a range past the end covers no block";
  ops().hdfsReleaseHosts(dfs, nullptr, hosts);

  // A host name that cannot be copied leaves no hole: the others stay together.
  hostkernel::injectFault(Fault::Allocation, 4, "DFSLINK Pool");
  ASSERT_EQ(ops().hdfsGetHosts(dfs, context(), fs, "/blocks/multi", 0, 1, &hosts),
            static_cast<int32_t>(QX_OUT_OF_MEMORY));
  ASSERT_NE(hosts, nullptr);
  EXPECT_TRUE(hosts[0][0] && hosts[0][1] && !hosts[0][2]);
  EXPECT_EQ(hosts[1], nullptr);
  ops().hdfsReleaseHosts(dfs, nullptr, hosts);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_OUT_OF_MEMORY),
                                            statusReport(4, 0x86BFF81F, {"strdup_hd"})}));
}

using ListingTest = HadoopTest;

// On HDFS: Hadoop's local file system asks a child process for each entry's owner. The cluster
// makes the directories and empty files itself; the files with bytes are written here.
TEST_F(ListingTest, TenThousandEntriesComeBackWithTheirNamesKindsAndSizes) {
  hdfsFS fs = connectHdfs();
  ASSERT_TRUE(testHdfs().populate("/many", 10000)) << testHdfs().error();
  // Some files get bytes: e7, e14, ... below 1000 that are not directories.
  auto sizeOf = [](int number) {
    bool written = number % 7 == 0 && number % 10 != 0 && number < 1000;
    return written ? number % 97 : 0;
  };
  for (int i = 7; i < 1000; i += 7) {
    if (sizeOf(i) > 0) {
      writeAll(fs, "/many/e" + std::to_string(i), std::string(static_cast<size_t>(sizeOf(i)), 'x'));
    }
  }
  int32_t count = 0;
  hdfsPathInfo *entries = nullptr;
  ASSERT_EQ(ops().hdfsListDirectory(dfs, context(), fs, u"/many", &count, &entries), 0);
  ASSERT_EQ(count, 10000);
  int right = 0;
  for (int32_t i = 0; i < count; i++) {
    std::string name = entries[i].name;
    int number = atoi(name.c_str() + name.rfind("/e") + 2);
    bool isDirectory = number % 10 == 0;
    right += name == testHdfs().uri() + "/many/e" + std::to_string(number) &&
             entries[i].kind == (isDirectory ? 'D' : 'F') && entries[i].size == sizeOf(number);
  }
  EXPECT_EQ(right, 10000);
  ops().hdfsReleasePathInfo(dfs, nullptr, entries, count);
  EXPECT_TRUE(reports().empty());
}

TEST_F(ListingTest, AnEntryThatCannotBeReadFailsTheListingAndLeavesNothing) {
  std::string directory = temporaryDirectory();
  for (const char *name : {"a", "b", "c", "d"}) std::ofstream(directory + "/" + name) << name;
  hdfsFS fs = connect(u"local", 0);
  int32_t count = -1;
  hdfsPathInfo *entries = nullptr;
  ASSERT_EQ(ops().hdfsListDirectory(dfs, context(), fs, qx(directory).c_str(), &count, &entries),
            0);  // every class the listing needs is cached
  ops().hdfsReleasePathInfo(dfs, nullptr, entries, count);
  hostkernel::Counters before = hostkernel::liveCounters();
  // The third entry's owner fails.
  // listStatus, then five object calls an entry: its path, its text, owner, group, permission.
  hostkernel::injectFault(Fault::JniCall, 1 + 5 * 2 + 3, "CallObjectMethodV");
  count = -1;
  entries = reinterpret_cast<hdfsPathInfo *>(0x1);
  EXPECT_EQ(ops().hdfsListDirectory(dfs, context(), fs, qx(directory).c_str(), &count, &entries),
            static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(entries, nullptr);
  EXPECT_EQ(reports(),
            std::vector<Report>({textReport(
                4, "ERROR: Call to org.apache.hadoop.fs.FileStatus::getOwner failed.")}));
  EXPECT_EQ(hostkernel::liveCounters(), before);
  EXPECT_FALSE(env->ExceptionCheck());
  removeTree(directory);
}

}  // namespace
}  // namespace testsupport

namespace testsupport {
namespace {

// What the operations refuse, and how: the result, the status out-value and the reports, with
// no Java exception left pending.
struct Refusal {
  const char *what;
  std::function<int64_t(DfsOperations &, DfsLinkState *, QXMessageContext *, int32_t *, hdfsFS)>
      call;
  int64_t result;
  int32_t status;  // 99: untouched
  std::vector<Report> reports;
};

const Report kEmptyPathReports[] = {
    statusReport(4, 0x86BFF010, {"constructNewObjectOfClass", "org/apache/hadoop/fs/Path"}),
    statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"}),
    statusReport(4, 0x86BFF80A, {"constructNewObjectOfPath", ""})};

std::vector<Report> emptyPath(const char *operation) {
  std::vector<Report> reports(std::begin(kEmptyPathReports), std::end(kEmptyPathReports));
  reports.push_back(statusReport(4, 0x86BFF80C, {operation}));
  return reports;
}

const Report kNoConnection = statusReport(4, 0x86BFF808, {"hdfsExists"});

class RefusalTest : public HadoopTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, IsCleanAndSaysWhy) {
  const Refusal &refusal = GetParam();
  hdfsFS fs = connect(u"local", 0);
  int32_t status = 99;
  messages.clear();
  EXPECT_EQ(refusal.call(ops(), dfs, context(), &status, fs), refusal.result);
  EXPECT_EQ(status, refusal.status);
  EXPECT_EQ(reports(), refusal.reports);
  EXPECT_FALSE(env->ExceptionCheck());
}

using Ops = DfsOperations;
using Context = QXMessageContext;

INSTANTIATE_TEST_SUITE_P(
    Operations, RefusalTest,
    ::testing::Values(
        Refusal{"exists_without_connection",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS) -> int64_t {
                  return o.hdfsExists(d, c, s, nullptr, u"/x");
                },
                -1,
                99,
                {statusReport(4, 0x86BFF808, {"hdfsExists"})}},
        Refusal{"exists_of_an_empty_path",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsExists(d, c, s, fs, u"");
                },
                -1, static_cast<int32_t>(0x86BFF80C), emptyPath("hdfsExists")},
        Refusal{"rename_to_an_empty_path",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsRename(d, c, s, fs, u"/tmp", u"");
                },
                -1, 99, emptyPath("hdfsRename")},
        Refusal{"chown_of_nobody",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsChown(d, c, s, fs, "/tmp", nullptr, nullptr);
                },
                -1,
                99,
                {statusReport(4, 0x86BFF809, {"hdfsChown"})}},
        Refusal{"chmod_without_a_path",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsChmod(d, c, s, fs, nullptr, 0644);
                },
                -3,
                99,
                {statusReport(4, QX_MISSING_ARGUMENT)}},
        Refusal{"chmod_whose_permission_cannot_be_made",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  hostkernel::injectFault(Fault::JniCall, 1, "NewObjectV");
                  return o.hdfsChmod(d, c, s, fs, "/tmp", 0644);
                },
                -2,
                99,
                {statusReport(4, 0x86BFF010,
                              {"constructNewObjectOfClass",
                               "org/apache/hadoop/fs/permission/FsPermission"}),
                 statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"})}},
        Refusal{"utime_of_no_number",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsUtime(d, c, s, fs, "/tmp", std::nan(""), 0);
                },
                -1,
                99,
                {textReport(4,
                            "ERROR: hdfsUtime: a time is not a number of seconds that "
                            "milliseconds can hold.")}},
        Refusal{"utime_beyond_milliseconds",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsUtime(d, c, s, fs, "/tmp", 0, 1e17) +
                         o.hdfsUtime(d, c, s, fs, "/tmp", -INFINITY, 0);
                },
                -2,
                99,
                {textReport(4,
                            "ERROR: hdfsUtime: a time is not a number of seconds that "
                            "milliseconds can hold."),
                 textReport(4,
                            "ERROR: hdfsUtime: a time is not a number of seconds that "
                            "milliseconds can hold.")}},
        Refusal{"listing_without_a_connection",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *, hdfsFS) -> int64_t {
                  int32_t count = 5;
                  hdfsPathInfo *entries = nullptr;
                  o.hdfsReleasePathInfo(d, nullptr, nullptr, 3);  // nothing to release
                  o.hdfsReleaseHosts(d, nullptr, nullptr);
                  return o.hdfsListDirectory(d, c, nullptr, u"/", &count, &entries);
                },
                static_cast<int32_t>(QX_MISSING_ARGUMENT),
                99,
                {}},
        Refusal{"upload_to_an_empty_path",
                [](Ops &o, DfsLinkState *d, Context *c, int32_t *s, hdfsFS fs) -> int64_t {
                  return o.hdfsCopyFromLocal(d, c, s, u"/etc/hostname", fs, u"", 0, 0, 0);
                },
                -1, static_cast<int32_t>(QX_OPERATION_FAILED),
                [] {
                  std::vector<Report> reports = emptyPath("hdfsCopyFromLocal");
                  reports.push_back(statusReport(4, 0x86BFF81F, {"hdfsCopyFromLocal"}));
                  return reports;
                }()}),
    [](const ::testing::TestParamInfo<Refusal> &info) { return std::string(info.param.what); });

}  // namespace
}  // namespace testsupport
