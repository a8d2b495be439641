// What every test binary shares: the JVM's -Xcheck:jni set-up, the check that no JNI warning
// was printed, and readable output for host reports.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <set>
#include <string>

#include "hostkernel/hostkernel.h"

namespace hostkernel {
inline void PrintTo(const Report &report, std::ostream *out) {
  *out << "{severity " << report.severity << ", code 0x" << std::hex << report.code << std::dec
       << ", args [";
  for (size_t i = 0; i < report.arguments.size(); i++) {
    *out << (i ? ", " : "") << '"' << report.arguments[i] << '"';
  }
  *out << "], \"" << report.line << "\"}";
}

inline bool operator==(const Counters &a, const Counters &b) {
  return a.pools == b.pools && a.blocks == b.blocks && a.bytes == b.bytes &&
         a.mutexes == b.mutexes && a.extensions == b.extensions &&
         a.attachedThreads == b.attachedThreads && a.ioObjects == b.ioObjects;
}

inline void PrintTo(const Counters &c, std::ostream *out) {
  *out << "{pools " << c.pools << ", blocks " << c.blocks << ", bytes " << c.bytes << ", mutexes "
       << c.mutexes << ", extensions " << c.extensions << ", attached " << c.attachedThreads
       << ", io objects " << c.ioObjects << "}";
}
}  // namespace hostkernel

namespace testsupport {

// A fixture that fails the test when the JVM printed a JNI warning during it, clears injected
// faults, and records reports on a quiet message context.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  hostkernel::MessageContext messages{nullptr};
};

// A parameterized test's name made of its parameter's description (its member what).
template <typename Param>
std::string nameOf(const ::testing::TestParamInfo<Param> &info) {
  std::string name = info.param.what;
  for (char &c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// The directory the build puts test classes and jars in.
std::string testDataDirectory();

// The shared library of a module in the build's library directory.
std::string libraryPath(const std::string &module);

// A fresh temporary directory on the local disk, and its removal.
std::string temporaryDirectory();
void removeTree(const std::string &directory);

// The dynamic symbols a module's library defines.
std::set<std::string> exportedSymbols(const std::string &module);

}  // namespace testsupport
