// qxnls transcoders: round trips between the three encodings and the capacity contract.
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using hostkernel::Fault;

// Text with one-, two-, three- and four-byte UTF-8 sequences (the last a surrogate pair).
const std::string kSample = "A\u00e9\u4e2d\U0001F600z";

class NlsTest : public testsupport::HostTest {
 protected:
  QXTranscoder *transcoder(int32_t from, int32_t to) {
    QXNls *nls = hostkernel::kernel()->qxnls;
    return nls->createTranscoder(nls, from, to, 0, messages.get());
  }

  // Converts into a buffer followed by a guard region that must stay untouched.
  uint32_t convertGuarded(QXTranscoder *t, const void *source, int32_t bytes, int32_t capacity,
                          std::vector<unsigned char> &out, int32_t &written) {
    std::vector<unsigned char> buffer(static_cast<size_t>(capacity) + 32, 0xCC);
    uint32_t status = t->convert(t, source, bytes, buffer.data(), capacity, &written, 0);
    for (size_t i = static_cast<size_t>(capacity); i < buffer.size(); i++) {
      EXPECT_EQ(buffer[i], 0xCC) << "byte written past the capacity at " << i;
    }
    out.assign(buffer.begin(), buffer.begin() + capacity);
    return status;
  }
};

TEST_F(NlsTest, RoundTripsBetweenUtf8QXCharAndTheCompilerCodePage) {
  QXTranscoder *toQX = transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR);
  QXTranscoder *toCompiler = transcoder(QX_ENCODING_QXCHAR, QX_ENCODING_COMPILER);
  QXTranscoder *compilerToUtf8 = transcoder(QX_ENCODING_COMPILER, QX_ENCODING_UTF8);
  ASSERT_TRUE(toQX && toCompiler && compilerToUtf8);

  QXChar units[16];
  int32_t written = -1;
  ASSERT_EQ(toQX->convert(toQX, kSample.data(), static_cast<int32_t>(kSample.size()), units,
                          sizeof units, &written, 0),
            0u);
  EXPECT_EQ(written, 6);  // QXChar units: A, e-acute, the ideograph, a surrogate pair, z
  EXPECT_EQ(std::u16string(units, written), hostkernel::toQXChar(kSample));

  char narrow[32];
  int32_t narrowLength = -1;
  ASSERT_EQ(
      toCompiler->convert(toCompiler, units, written * 2, narrow, sizeof narrow, &narrowLength, 0),
      0u);
  char utf8[32];
  int32_t utf8Length = -1;
  ASSERT_EQ(compilerToUtf8->convert(compilerToUtf8, narrow, narrowLength, utf8, sizeof utf8,
                                    &utf8Length, 0),
            0u);
  EXPECT_EQ(std::string(utf8, utf8Length), kSample);
}

TEST_F(NlsTest, ExactCapacityFitsWithoutTerminatorAndOneLessFails) {
  QXTranscoder *toQX = transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR);
  std::vector<unsigned char> out;
  int32_t written = -1;
  EXPECT_EQ(
      convertGuarded(toQX, kSample.data(), static_cast<int32_t>(kSample.size()), 12, out, written),
      0u);
  EXPECT_EQ(written, 6);
  for (int32_t capacity : {11, 7, 1, 0}) {
    EXPECT_NE(convertGuarded(toQX, kSample.data(), static_cast<int32_t>(kSample.size()), capacity,
                             out, written),
              0u)
        << capacity;
  }
  QXTranscoder *toUtf8 = transcoder(QX_ENCODING_QXCHAR, QX_ENCODING_UTF8);
  std::u16string text = hostkernel::toQXChar(kSample);
  EXPECT_EQ(convertGuarded(toUtf8, text.data(), static_cast<int32_t>(text.size() * 2),
                           static_cast<int32_t>(kSample.size()), out, written),
            0u);
  EXPECT_EQ(written, static_cast<int32_t>(kSample.size()));
  EXPECT_NE(convertGuarded(toUtf8, text.data(), static_cast<int32_t>(text.size() * 2),
                           static_cast<int32_t>(kSample.size()) - 1, out, written),
            0u);
}

TEST_F(NlsTest, InvalidOrTruncatedInputFails) {
  QXTranscoder *toQX = transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR);
  std::vector<unsigned char> out;
  int32_t written;
  EXPECT_NE(convertGuarded(toQX, "ab\xff", 3, 64, out, written), 0u);
  EXPECT_NE(convertGuarded(toQX, "\xe4\xb8", 2, 64, out, written), 0u);
  QXTranscoder *toUtf8 = transcoder(QX_ENCODING_QXCHAR, QX_ENCODING_UTF8);
  const QXChar lone[] = {0xD800, u'a'};
  EXPECT_NE(convertGuarded(toUtf8, lone, 4, 64, out, written), 0u);
}

TEST_F(NlsTest, EmptySourceWritesNothing) {
  QXTranscoder *toQX = transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR);
  std::vector<unsigned char> out;
  int32_t written = -1;
  EXPECT_EQ(convertGuarded(toQX, "", 0, 8, out, written), 0u);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(out[0], 0xCC);
}

TEST_F(NlsTest, CreationAndConversionFaults) {
  hostkernel::injectFault(Fault::TranscoderCreation, 1, "25->62");
  EXPECT_NE(transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR), nullptr);
  EXPECT_EQ(transcoder(QX_ENCODING_QXCHAR, QX_ENCODING_COMPILER), nullptr);
  QXTranscoder *toQX = transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR);
  hostkernel::injectFault(Fault::Conversion, 1, "20->25");
  QXChar units[4];
  int32_t written;
  EXPECT_NE(toQX->convert(toQX, "ab", 2, units, sizeof units, &written, 0), 0u);
  EXPECT_EQ(toQX->convert(toQX, "ab", 2, units, sizeof units, &written, 0), 0u);
}

TEST_F(NlsTest, UnknownEncodingIsRefusedWithAReport) {
  EXPECT_EQ(transcoder(QX_ENCODING_UTF8, 99), nullptr);
  EXPECT_EQ(messages.reports(),
            (std::vector<hostkernel::Report>{hostkernel::statusReport(4, QX_OPERATION_FAILED)}));
}

TEST_F(NlsTest, OneTranscoderServesManyThreads) {
  QXTranscoder *toQX = transcoder(QX_ENCODING_UTF8, QX_ENCODING_QXCHAR);
  std::u16string expected = hostkernel::toQXChar(kSample);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; i++) {
        QXChar units[16];
        int32_t written = 0;
        uint32_t status = toQX->convert(toQX, kSample.data(), static_cast<int32_t>(kSample.size()),
                                        units, sizeof units, &written, 0);
        if (status || std::u16string(units, written) != expected) mismatches++;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(mismatches, 0);
}

}  // namespace

namespace {

// The host's own decoder takes only shortest forms of scalar values: an over-long '/' or an
// encoded surrogate is never the character it imitates.
TEST(HostUnicode, OnlyTextIsDecoded) {
  struct Case {
    std::string bytes;
    bool text;
    std::u16string lenient;
  };
  for (const Case &c : std::vector<Case>{
           {"caf\xC3\xA9", true, u"caf\u00e9"},
           {"\xF0\x9F\x98\x80", true, u"\U0001F600"},
           {"caf\xE9", false, u"caf\uFFFD"},
           {"..\xC0\xAF..", false, u"..\uFFFD.."},
           {"\xE0\x80\xAF", false, u"\uFFFD"},
           {"\xED\xA0\x80", false, u"\uFFFD"},
           {"\xF4\x90\x80\x80", false, u"\uFFFD"},
           {"\xF0\x9F\x98", false, u"\uFFFD\uFFFD\uFFFD"},
       }) {
    std::u16string strict;
    EXPECT_EQ(hostkernel::utf8ToQXChar(c.bytes, strict), c.text) << c.bytes;
    EXPECT_EQ(hostkernel::toQXChar(c.bytes), c.lenient) << c.bytes;
  }
  std::string bytes;
  const std::u16string lone = {u'a', static_cast<char16_t>(0xD800), u'b'};
  EXPECT_FALSE(hostkernel::qxcharToUtf8(lone, bytes)) << "a lone surrogate names nothing";
  EXPECT_TRUE(hostkernel::qxcharToUtf8(u"\U0001F600", bytes));
  EXPECT_EQ(bytes, "\xF0\x9F\x98\x80");
}

}  // namespace
