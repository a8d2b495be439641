// The options document, the environment's class path and the class path list, on real files
// and directory trees.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "dfslink/config/class_path.h"
#include "tests/dfslink/dfs_fixture.h"

namespace testsupport {
namespace {

// The os attribute's value that names this platform, and one that names the other.
const std::string kThisOs = hostkernel::fromQXChar(QX_OPTIONS_OS);
const std::string kOtherOs = kThisOs == "unix" ? "windows" : "unix";

class ConfigTest : public DfsTest {
 protected:
  void SetUp() override {
    DfsTest::SetUp();
    directory = temporaryDirectory();
    QXKernel *kernel = hostkernel::kernel();
    QXPoolAttributes attributes = {};
    pool = kernel->createPool(kernel, &attributes, 0, "ENGINE Pool");
    unsetenv("ZEL_HADOOP_CONFIG_PATH");
    unsetenv("ZEL_HADOOP_JAR_PATH");
  }
  void TearDown() override {
    clearOptions();
    pool->header.release(pool);
    removeTree(directory);
    unsetenv("ZEL_HADOOP_CONFIG_PATH");
    unsetenv("ZEL_HADOOP_JAR_PATH");
    DfsTest::TearDown();
  }

  // Gives back what a reading left in the record.
  void clearOptions() {
    for (QXChar *text : {options.javaWorkPath, options.javaBootstrapPath, options.zelJavaVersion,
                         options.hadoopJavaVersion, options.hdfsWorkPath, options.hdfsWorkingDir,
                         options.hdfsHost, options.hdfsUser}) {
      if (text) dfs->pool->free(dfs->pool, text);
    }
    if (options.classPath.text) pool->free(pool, options.classPath.text);
    if (options.classPath.lengths) pool->free(pool, options.classPath.lengths);
    options = OptionsRecord{};
  }

  uint32_t read(const std::string &document) {
    std::ofstream(directory + "/xmlopts.xml", std::ios::binary) << document;
    std::u16string path = qx(directory);
    return ops().loadXmlOptions(dfs, context(), pool, path.c_str(),
                                static_cast<int32_t>(path.size() * 2), &options);
  }

  std::vector<std::string> items() const {
    std::vector<std::string> items;
    const char *text = options.classPath.text;
    for (int32_t i = 0; i < options.classPath.count; text += options.classPath.lengths[i++]) {
      items.push_back(text);
      EXPECT_EQ(options.classPath.lengths[i], static_cast<int32_t>(strlen(text) + 1));
    }
    return items;
  }

  std::string make(const std::string &relative, const std::string &contents = "") {
    std::string path = directory + "/" + relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (relative.back() == '/') return path.substr(0, path.size() - 1);
    std::ofstream(path) << contents;
    return path;
  }

  static std::string text(const QXChar *value) {
    return value ? hostkernel::fromQXChar(value) : "(null)";
  }

  std::string directory;
  QXPool *pool = nullptr;
  OptionsRecord options{};
};

TEST_F(ConfigTest, ATreeGivesItsJarsThenItsClassDirectoriesBelowFirst) {
  std::string d = make("d/");
  make("d/a.jar");
  make("d/sub/b.jar");
  make("d/sub/C.class");
  make("d/e.class");
  make("d/X.JAR");
  make("d/sub/deeper/nothing.txt");
  EXPECT_EQ(read("<hadoop><classpaths><classpath>" + d + "</classpath></classpaths></hadoop>"), 0u);
  EXPECT_EQ(items(), std::vector<std::string>({d + "/a.jar", d + "/sub/b.jar", d + "/sub", d}));
  EXPECT_TRUE(reports().empty());
}

TEST_F(ConfigTest, EntriesOfEveryKind) {
  struct Case {
    std::string what, document;
    uint32_t status;
    std::vector<std::string> items;
  };
  std::string jar = make("lib/x.jar"), zip = make("lib/y.zip"), classes = make("classes/");
  make("classes/k/K.class");
  for (const Case &c : std::vector<Case>{
           {"a jar", "<classpath>" + jar + "</classpath>", 0, {jar}},
           {"a missing path", "<classpath>" + directory + "/absent</classpath>", 0, {}},
           {"a directory not walked",
            "<classpath recurse='no'>" + classes + "</classpath>",
            0,
            {classes}},
           {"a zip", "<classpath>" + zip + "</classpath>", QX_OPERATION_FAILED, {}},
           {"two lists, the second applies alone",
            "<classpath>" + jar + "</classpath></classpaths><classpaths><classpath>" + classes +
                "</classpath>",
            0,
            {classes + "/k"}},
           {"another platform's list",
            "</classpaths><classpaths os='" + kOtherOs + "'><classpath>" + jar + "</classpath>",
            0,
            {}},
           {"this platform's list",
            "</classpaths><classpaths os='" + kThisOs + "'><classpath>" + jar + "</classpath>",
            0,
            {jar}},
       }) {
    clearOptions();
    EXPECT_EQ(read("<hadoop><classpaths>" + c.document + "</classpaths></hadoop>"), c.status)
        << c.what;
    EXPECT_EQ(items(), c.items) << c.what;
  }
}

TEST_F(ConfigTest, ValuesAndBitsOfTheDocument) {
  EXPECT_EQ(read("<hadoop><mapreduce combinesplits='yes' debug='obs'>"
                 "<java_work_path os='unix'>/u/x</java_work_path>"
                 "<java_work_path delete='yes'>/w</java_work_path>"
                 "<java_bootstrap_path user_host_name='not-this-host'>/b</java_bootstrap_path>"
                 "<zel_java_version>17</zel_java_version><hdfs_work_path>/h</hdfs_work_path>"
                 "<hdfs_working_dir>/wd</hdfs_working_dir></mapreduce>"
                 "<hdfs><host> h1 </host><user>\xE7\x94\xA8\xE6\x88\xB7</user>"
                 "<port>65535</port></hdfs></hadoop>"),
            0u);
  EXPECT_EQ(options.optionFlags,
            OPTIONS_COMBINE_SPLITS | OPTIONS_DEBUG_OBS | OPTIONS_KEEP_HDFS_WORK);
  EXPECT_EQ(text(options.javaWorkPath), "/w");
  EXPECT_EQ(text(options.javaBootstrapPath), "(null)");
  EXPECT_EQ(text(options.zelJavaVersion), "17");
  EXPECT_EQ(text(options.hdfsWorkPath), "/h");
  EXPECT_EQ(text(options.hdfsWorkingDir), "/wd");
  EXPECT_EQ(text(options.hdfsHost), " h1 ");
  EXPECT_EQ(options.hdfsHostLength, 4u);
  EXPECT_EQ(text(options.hdfsUser), "\xE7\x94\xA8\xE6\x88\xB7");
  EXPECT_EQ(options.hdfsUserLength, 2u);
  EXPECT_EQ(options.hdfsPort, 65535);
  EXPECT_TRUE(reports().empty());
}

// A document shared between platforms: the paths of this one apply, the others' do not.
TEST_F(ConfigTest, TheOsAttributeNamesThisPlatform) {
  EXPECT_EQ(kThisOs, "unix") << "the tests run on Linux";
  EXPECT_EQ(read("<hadoop><mapreduce><java_work_path os='" + kThisOs +
                 "'>/mine</java_work_path><java_work_path os='" + kOtherOs +
                 "'>C:\\theirs</java_work_path><java_bootstrap_path os='mvs'>/b"
                 "</java_bootstrap_path></mapreduce></hadoop>"),
            0u);
  EXPECT_EQ(text(options.javaWorkPath), "/mine");
  EXPECT_EQ(text(options.javaBootstrapPath), "(null)");
}

// A walk follows a link to a directory (packaged layouts link their jar directories) and enters
// each directory once: a loop, two loops and links to an ancestor or to the root end at once
// with every jar once; a link to a jar is a jar.
TEST_F(ConfigTest, LinksToDirectoriesAreWalkedAndEachDirectoryEnteredOnce) {
  std::string d = make("d/");
  make("d/a.jar");
  make("d/sub/b.jar");
  make("outside.jar");
  make("shared/c.jar");
  std::filesystem::create_directory_symlink(".", d + "/l");
  std::filesystem::create_directory_symlink("..", d + "/sub/m");
  std::filesystem::create_directory_symlink("..", d + "/up");
  std::filesystem::create_directory_symlink("/", d + "/root");
  std::filesystem::create_directory_symlink("../shared", d + "/linked");
  std::filesystem::create_directory_symlink("../d", directory + "/shared/back");
  std::filesystem::create_symlink("../outside.jar", d + "/linked.jar");
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(read("<hadoop><classpaths><classpath>" + d + "</classpath></classpaths></hadoop>"), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(items(), std::vector<std::string>(
                         {d + "/a.jar", d + "/linked/c.jar", d + "/linked.jar", d + "/sub/b.jar"}));
}

// File names are bytes: a name that is not UTF-8 (Latin-1, an over-long '/', an encoded
// surrogate) is skipped with a warning naming its directory, and the reading goes on.
TEST_F(ConfigTest, NamesThatAreNotUtf8AreSkippedWithAWarning) {
  std::string d = make("d/");
  make("d/caf\xE9/inside.jar");
  make("d/..\xC0\xAF../escaped.jar");
  make("d/\xED\xA0\x80.jar");
  make("d/ok.jar");
  make("jars/\xE9t\xE9.jar");
  make("jars/fine.jar");
  EXPECT_EQ(read("<hadoop><classpaths><classpath>" + d + "</classpath></classpaths></hadoop>"), 0u);
  EXPECT_EQ(items(), std::vector<std::string>({d + "/ok.jar"}));
  std::string warning = "WARNING: Class path: a name in " + d + " is not UTF-8; skipped.";
  EXPECT_EQ(messages.lines(), std::vector<std::string>(3, warning));
  messages.clear();
  clearOptions();
  setenv("ZEL_HADOOP_JAR_PATH", (directory + "/jars").c_str(), 1);
  EXPECT_EQ(ops().loadEnvPaths(dfs, context(), pool, &options), 0u);
  EXPECT_EQ(items(), std::vector<std::string>({directory + "/jars/fine.jar"}));
  EXPECT_EQ(messages.lines(),
            std::vector<std::string>({"WARNING: loadEnvPaths: an entry of " + directory +
                                      "/jars/ is not UTF-8; skipped."}));
}

// A failure is never overwritten by what a later element stores: the reading returns it. A
// value that cannot be stored leaves no length behind.
TEST_F(ConfigTest, AFailureIsNeverReturnedAsSuccess) {
  EXPECT_EQ(read("<hadoop><hdfs><port><mapreduce><zel_java_version>17x</zel_java_version>"
                 "</mapreduce></port></hdfs></hadoop>"),
            QX_NOT_A_NUMBER);
  EXPECT_EQ(messages.lines(),
            std::vector<std::string>({"ERROR: the text is not a number (0x803FE812)"}));
  clearOptions();
  EXPECT_EQ(read("<hadoop><hdfs><host>old</host><user>old</user></hdfs></hadoop>"), 0u);
  for (const char *element : {"host", "user"}) {
    // The third allocation: after the user host name and the element's text, its value.
    hostkernel::injectFault(Fault::Allocation, 3, "DFSLINK Pool");
    std::string e = element;
    EXPECT_EQ(read("<hadoop><hdfs><" + e + ">a new value</" + e + "></hdfs></hadoop>"),
              QX_OUT_OF_MEMORY)
        << e;
    hostkernel::clearFaults();
  }
  EXPECT_EQ(options.hdfsHost, nullptr);
  EXPECT_EQ(options.hdfsHostLength, 0u);
  EXPECT_EQ(options.hdfsUser, nullptr);
  EXPECT_EQ(options.hdfsUserLength, 0u);
}

// A pretty-printed number stands between XML white space.
TEST_F(ConfigTest, NumbersMayStandOnLinesOfTheirOwn) {
  EXPECT_EQ(
      read("<hadoop>\n  <hdfs>\n    <port>\n      8020\r\n    </port>\n  </hdfs>\n</hadoop>\n"),
      0u);
  EXPECT_EQ(options.hdfsPort, 8020);
  EXPECT_TRUE(reports().empty());
}

// What no options document needs is refused quickly and cleanly: a document larger than a few
// MiB by its size, an attribute longer than any option, and memory running out inside the
// reader's callbacks.
TEST_F(ConfigTest, HugeDocumentsAndValuesAreRefusedQuickly) {
  struct Case {
    std::string what, document;
    uint32_t status;
    std::string line;
  };
  for (const Case &c : std::vector<Case>{
           {"a huge document", "<hadoop><!--" + std::string(5 << 20, 'c') + "--></hadoop>",
            QX_VALUE_TOO_LONG, "ERROR: The options document is larger than 4 MiB; not read."},
           {"a huge attribute",
            "<hadoop><mapreduce debug='" + std::string(3 << 20, 'y') + "'/></hadoop>",
            QX_VALUE_TOO_LONG, "ERROR: An option's attribute is longer than 65536 units."},
       }) {
    messages.clear();
    clearOptions();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(read(c.document), c.status) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << c.what;
    EXPECT_EQ(messages.lines().back(), c.line) << c.what;
  }
  for (const char *callback : {"exml start", "exml characters", "exml end"}) {
    messages.clear();
    clearOptions();
    hostkernel::injectFault(Fault::Allocation, 1, callback);
    EXPECT_EQ(read("<hadoop><hdfs><host>h</host></hdfs></hadoop>"), QX_OUT_OF_MEMORY) << callback;
    EXPECT_FALSE(hostkernel::faultPending(Fault::Allocation)) << callback;
    hostkernel::clearFaults();
  }
}

TEST_F(ConfigTest, TextInPiecesIsTakenWhole) {
  std::string jar = make("lib/straddling.jar");
  std::string padding(8192 - 60, ' ');  // the classpath text crosses the first block's end
  EXPECT_EQ(read("<hadoop>" + padding + "<classpaths><classpath>" + jar +
                 "</classpath></classpaths><hdfs><host>a&amp;b</host></hdfs></hadoop>"),
            0u);
  EXPECT_EQ(items(), std::vector<std::string>({jar}));
  EXPECT_EQ(text(options.hdfsHost), "a&b");
}

TEST_F(ConfigTest, RefusedValuesSayWhy) {
  struct Case {
    std::string what, document;
    uint32_t status;
    std::vector<std::string> lines;
  };
  for (const Case &c : std::vector<Case>{
           {"port above the range",
            "<hdfs><port>65536</port></hdfs>",
            0x803FE811,
            {"ERROR: the number is out of range (0x803FE811)"}},
           {"negative port",
            "<hdfs><port>-1</port></hdfs>",
            0x803FE811,
            {"ERROR: the number is out of range (0x803FE811)"}},
           {"port of no number",
            "<hdfs><port>8o2o</port></hdfs>",
            0x803FE812,
            {"ERROR: the text is not a number (0x803FE812)"}},
           {"invalid os",
            "<mapreduce><java_work_path os='dos'>/x</java_work_path></mapreduce>",
            QX_OPERATION_FAILED,
            {"ERROR: Invalid OS in <java_work_path> : dos",
             "ERROR: Valid values are windows, unix, or mvs"}},
       }) {
    messages.clear();
    clearOptions();
    EXPECT_EQ(read("<hadoop>" + c.document + "</hadoop>"), c.status) << c.what;
    EXPECT_EQ(options.hdfsPort, 0) << c.what;
    EXPECT_EQ(messages.lines(), c.lines) << c.what;
  }
}

TEST_F(ConfigTest, AMissingDocumentOrATooLongDirectoryIsReportedWithItsPath) {
  std::u16string missing = qx(directory + "/none");
  EXPECT_EQ(ops().loadXmlOptions(dfs, context(), pool, missing.c_str(),
                                 static_cast<int32_t>(missing.size() * 2), &options),
            QX_IO_NOT_FOUND);
  EXPECT_EQ(reports(), std::vector<Report>(
                           {statusReport(4, QX_IO_NOT_FOUND, {directory + "/none/xmlopts.xml"})}));
  messages.clear();
  for (size_t units : {247u, 248u}) {
    std::u16string path = u"/\u6587" + std::u16string(units - 2, u'p');
    uint32_t status = ops().loadXmlOptions(dfs, context(), pool, path.c_str(),
                                           static_cast<int32_t>(path.size() * 2), &options);
    EXPECT_EQ(status, units == 247 ? QX_IO_NOT_FOUND : QX_OPERATION_FAILED) << units;
  }
  std::string wide = "/\u6587" + std::string(246, 'p');
  EXPECT_EQ(messages.lines().back(), "ERROR: Invalid xml option path: " + wide) << "the whole path";
}

TEST_F(ConfigTest, TheEnvironmentGivesTheConfigurationDirectoryAndEveryJarDirectoryEntry) {
  EXPECT_EQ(ops().loadEnvPaths(dfs, context(), pool, &options), 0u);
  EXPECT_EQ(options.classPath.count, 0) << "neither variable set";
  std::string conf = make("conf/"), jars = make("jars/");
  make("jars/b.jar");
  make("jars/a.jar");
  make("jars/notes.txt");
  setenv("ZEL_HADOOP_CONFIG_PATH", conf.c_str(), 1);
  for (std::string given : {jars, jars + "/"}) {
    clearOptions();
    setenv("ZEL_HADOOP_JAR_PATH", given.c_str(), 1);
    EXPECT_EQ(ops().loadEnvPaths(dfs, context(), pool, &options), 0u) << "the listing ended";
    EXPECT_EQ(items(), std::vector<std::string>(
                           {conf, jars + "/a.jar", jars + "/b.jar", jars + "/notes.txt"}));
  }
  // A name that would not fit the value buffer after its directory is passed over.
  clearOptions();
  make("jars/" + std::string(250, 'n'));
  EXPECT_EQ(ops().loadEnvPaths(dfs, context(), pool, &options), 0u);
  EXPECT_EQ(options.classPath.count, 4);
  EXPECT_EQ(messages.lines().back(), "WARNING: loadEnvPaths: an entry of " + jars +
                                         "/ is too long for the class path; "
                                         "skipped.");
}

TEST_F(ConfigTest, BackslashesAreDoubledAndTheEscapedLimitIsKept) {
  ClassPathList &list = options.classPath;
  list.flags = CLASS_PATH_ECHO;
  std::u16string path = u"C:\\jars\\x.jar";
  EXPECT_EQ(dfs::appendClassPathEntry(&list, path.c_str(), 26, context(), pool, dfs->toCompiler),
            0u);
  EXPECT_EQ(items(), std::vector<std::string>({"C:\\\\jars\\\\x.jar"}));
  EXPECT_EQ(list.lengths[0], 16);
  EXPECT_EQ(messages.lines(), std::vector<std::string>({"C:\\jars\\x.jar"}));
  std::u16string wide(261, u'\\');  // 522 units once doubled
  EXPECT_EQ(dfs::appendClassPathEntry(&list, wide.c_str(), 522, context(), pool, dfs->toCompiler),
            QX_VALUE_TOO_LONG);
  EXPECT_EQ(list.count, 1) << "the list as it was";
}

// Documents that are truncated, binary, deep, huge or hostile end with a status or a clean
// parse, and leave nothing behind.
TEST_F(ConfigTest, AThousandHostileDocuments) {
  std::mt19937 random(2026);
  const std::string valid =
      "<?xml version='1.0'?><hadoop><mapreduce debug='yes'><java_work_path>/w</java_work_path>"
      "</mapreduce><hdfs><host>h</host><port>8020</port></hdfs><classpaths><classpath>/none"
      "</classpath></classpaths></hadoop>";
  std::vector<std::string> documents = {
      "",
      "\xEF\xBB\xBF" + valid,
      std::string("\xFF\xFE<\0h\0a\0d\0o\0o\0p\0/\0>\0", 18),
      "<hadoop><![CDATA[<host>x</host>]]><hdfs><host><![CDATA[c&d]]></host></hdfs></hadoop>",
      "<!DOCTYPE h [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
      "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>"
      "<!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'><!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'>"
      "<!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'>]><hadoop><hdfs><host>&g;</host></hdfs>"
      "</hadoop>",
      "<!DOCTYPE h SYSTEM 'file:///etc/passwd'><hadoop>&x;</hadoop>",
      std::string(5000, '<'),
      "<hadoop><hdfs><host>" + std::string(50 << 20, 'h') + "</host></hdfs></hadoop>",
  };
  std::string nested;
  for (int i = 0; i < 20000; i++) nested += "<hadoop>";
  documents.push_back(nested);
  std::string attributes = "<hadoop><mapreduce";
  for (int i = 0; i < 20000; i++) attributes += " a" + std::to_string(i) + "='yes'";
  documents.push_back(attributes + "/></hadoop>");
  while (documents.size() < 1000) {
    std::string document = valid;
    switch (random() % 3) {
      case 0:
        document.resize(random() % document.size());
        break;
      case 1:
        for (int k = 0; k < 5; k++)
          document[random() % document.size()] = static_cast<char>(random());
        break;
      default:
        document.insert(random() % document.size(),
                        std::string(random() % 50, static_cast<char>(random())));
    }
    documents.push_back(document);
  }
  hostkernel::Counters before = hostkernel::liveCounters();
  int parsed = 0;
  for (const std::string &document : documents) {
    messages.clear();
    uint32_t status = read(document);
    parsed += status == 0;
    EXPECT_TRUE(status == 0 || !reports().empty()) << document.substr(0, 200);
    clearOptions();
    ASSERT_EQ(hostkernel::liveCounters(), before) << document.substr(0, 200);
  }
  EXPECT_GT(parsed, 1);
  EXPECT_LT(parsed, 1000);
}

}  // namespace
}  // namespace testsupport
