// The message context: every conversion of the host's printf conventions, the catalogue's
// rendering of status codes, and what it records.
#include <cstdio>
#include <cstring>

#include "tests/support/test_support.h"

namespace {

using hostkernel::Report;

class MessageTest : public testsupport::HostTest {
 protected:
  int32_t status(int32_t severity, uint32_t code, ...) {
    va_list arguments;
    va_start(arguments, code);
    QXMessageContext *context = messages.get();
    int32_t result = context->reportStatus(context, severity, code, arguments);
    va_end(arguments);
    return result;
  }
};

TEST_F(MessageTest, TextEntryRendersEveryConversion) {
  QXMessageContext *context = messages.get();
  const std::u16string format = u"%hs|%s|%d|%lld|%.*s|100%%";
  const QXChar *qxText = u"h\u00e9llo";
  context->reportText(context, QX_SEVERITY_NOTE, format.c_str(),
                      static_cast<int32_t>(format.size()), "narrow", qxText, -42, 1LL << 40, 3,
                      u"abcdef");
  std::vector<Report> reports = messages.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].line, "NOTE: narrow|h\u00e9llo|-42|1099511627776|abc|100%");
  EXPECT_EQ(reports[0].arguments,
            (std::vector<std::string>{"narrow", "h\u00e9llo", "-42", "1099511627776", "abc"}));
  EXPECT_EQ(reports[0].code, 0u);
}

TEST_F(MessageTest, TextEntryHonoursTheFormatLengthAndSeverityPrefixes) {
  QXMessageContext *context = messages.get();
  context->reportText(context, QX_SEVERITY_ERROR, u"cut here and not here", 8);
  context->reportText(context, QX_SEVERITY_PLAIN, u"continuation", 12);
  EXPECT_EQ(messages.lines(), (std::vector<std::string>{"ERROR: cut here", "continuation"}));
}

TEST_F(MessageTest, StatusReportRendersTheCatalogueTextWithItsCode) {
  status(QX_SEVERITY_ERROR, 0x86BFF805, "hdfsOpenFile");
  status(QX_SEVERITY_WARNING, 0x86BFF007, "methodIdFromClass", u"read", u"a/B", u"([B)I");
  status(QX_SEVERITY_ERROR, 0x86BFF815, "hdfsRead", 0);
  EXPECT_EQ(messages.lines(),
            (std::vector<std::string>{
                "ERROR: hdfsOpenFile: no JNI environment for this thread (0x86BFF805)",
                "WARNING: methodIdFromClass: method read of class a/B with descriptor ([B)I "
                "cannot be found (0x86BFF007)",
                "ERROR: hdfsRead: the read returned the unexpected count 0 (0x86BFF815)"}));
  EXPECT_EQ(messages.reports()[1],
            hostkernel::statusReport(3, 0x86BFF007, {"methodIdFromClass", "read", "a/B", "([B)I"}));
}

TEST_F(MessageTest, UnknownCodeRendersAsItsHexValue) {
  status(QX_SEVERITY_ERROR, 0x12345678, "ignored", 1, 2);
  ASSERT_EQ(messages.reports().size(), 1u);
  EXPECT_EQ(messages.reports()[0].line, "ERROR: 0x12345678");
  EXPECT_TRUE(messages.reports()[0].arguments.empty());
}

TEST_F(MessageTest, NullTextArgumentsRenderWithoutCrashing) {
  status(QX_SEVERITY_ERROR, 0x86BFF004, nullptr, nullptr);
  EXPECT_EQ(messages.reports()[0].arguments, (std::vector<std::string>{"(null)", "(null)"}));
}

TEST_F(MessageTest, EveryModuleCodeHasACatalogueText) {
  for (uint32_t code = 0x86BFF001; code <= 0x86BFF016; code++) {
    if (code == 0x86BFF00E) continue;  // not raised by the bridge
    EXPECT_FALSE(hostkernel::catalogueText(code).empty()) << std::hex << code;
  }
  for (uint32_t code = 0x86BFF801; code <= 0x86BFF827; code++) {
    if (code == 0x86BFF824) continue;  // not raised by the file-system module
    EXPECT_FALSE(hostkernel::catalogueText(code).empty()) << std::hex << code;
  }
}

TEST_F(MessageTest, LinesGoToTheSink) {
  FILE *sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  messages.setSink(sink);
  status(QX_SEVERITY_ERROR, QX_OUT_OF_MEMORY);
  rewind(sink);
  char line[128] = {};
  ASSERT_NE(fgets(line, sizeof line, sink), nullptr);
  EXPECT_STREQ(line, "ERROR: out of memory (0x803FC002)\n");
  messages.setSink(nullptr);
  fclose(sink);
}

}  // namespace
