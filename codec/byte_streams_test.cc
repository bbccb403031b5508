#include "codec/byte_streams.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using velmoran_testing::StderrLinesOf;

const std::string kInvalidRead(kInvalidReadDiagnostic);

// One step of a reader script and what it must do.
enum class Op { kReadByte, kReadBytes, kSkip };
struct Step {
  Op op;
  uint64_t argument;     // length for kReadBytes, alignment for kSkip
  uint64_t position;     // position afterwards
  uint64_t remaining;    // RemainingBytes afterwards
  bool reports_failure;  // writes the invalid-read line
};

TEST(ByteBufferStreamReaderTest, PositionsRemainingBytesAndFailures) {
  const uint8_t kBytes[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  const struct {
    const char* name;
    uint64_t size;
    std::vector<Step> steps;
  } kCases[] = {
      {"empty buffer", 0, {{Op::kReadByte, 0, 0, 0, true}, {Op::kReadBytes, 0, 0, 0, false}}},
      {"reads to the end",
       3,
       {{Op::kReadByte, 0, 1, 2, false},
        {Op::kReadBytes, 2, 3, 0, false},
        {Op::kReadBytes, 0, 3, 0, false},
        {Op::kReadBytes, 1, 3, 0, true},
        {Op::kReadByte, 0, 3, 0, true}}},
      {"a failed read leaves the position, a later fitting read succeeds",
       3,
       {{Op::kReadBytes, 4, 0, 3, true}, {Op::kReadBytes, 3, 3, 0, false}}},
      {"skip past the end is silent; the next read reports it",
       2,
       {{Op::kReadByte, 0, 1, 1, false},
        {Op::kSkip, 8, 8, 0, false},
        {Op::kReadBytes, 0, 8, 0, true}}},
      {"skip at and off alignment",
       5,
       {{Op::kSkip, 4, 0, 5, false},
        {Op::kReadBytes, 4, 4, 1, false},
        {Op::kSkip, 4, 4, 1, false},
        {Op::kReadByte, 0, 5, 0, false},
        {Op::kSkip, 4, 8, 0, false}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ByteBufferStreamReader reader(kBytes, c.size);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const Step& step = c.steps[i];
      uint64_t before = reader.position();
      std::vector<uint8_t> destination(8, 0xEE);
      int read_byte = -1;
      auto lines = StderrLinesOf([&] {
        switch (step.op) {
          case Op::kReadByte:
            read_byte = reader.ReadByte();
            break;
          case Op::kReadBytes:
            reader.ReadBytes(destination.data(), step.argument);
            break;
          case Op::kSkip:
            reader.SkipToAlignment(static_cast<uint8_t>(step.argument));
            break;
        }
      });
      EXPECT_EQ(reader.position(), step.position);
      EXPECT_EQ(reader.RemainingBytes(), step.remaining);
      if (step.reports_failure) {
        EXPECT_THAT(lines, ElementsAre(kInvalidRead));
        if (step.op == Op::kReadByte) {
          EXPECT_EQ(read_byte, 0);
        }
        EXPECT_EQ(destination, std::vector<uint8_t>(8, 0xEE));  // untouched
      } else {
        EXPECT_THAT(lines, ElementsAre());
        if (step.op == Op::kReadByte) {
          EXPECT_EQ(read_byte, kBytes[before]);
        }
        if (step.op == Op::kReadBytes) {
          EXPECT_TRUE(
              std::equal(kBytes + before, kBytes + before + step.argument, destination.begin()));
        }
      }
    }
  }
}

TEST(ByteBufferStreamWriterTest, AppendsAndPadsFromTheStartOfTheVector) {
  const struct {
    size_t initial_size;
    uint8_t alignment;
    size_t padding;
  } kCases[] = {{9, 8, 7}, {16, 8, 0}, {0, 8, 0}, {5, 4, 3}, {1, 1, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.initial_size) + " aligned to " + std::to_string(c.alignment));
    std::vector<uint8_t> buffer(c.initial_size, 0xFF);
    ByteBufferStreamWriter writer(&buffer);
    writer.PadToAlignment(c.alignment);
    ASSERT_EQ(buffer.size(), c.initial_size + c.padding);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + c.initial_size, buffer.end()),
              std::vector<uint8_t>(c.padding, 0));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + c.initial_size,
                            [](uint8_t b) { return b == 0xFF; }));
  }

  std::vector<uint8_t> buffer = {9};
  ByteBufferStreamWriter writer(&buffer);
  const uint8_t kRun[] = {1, 2, 3};
  writer.WriteByte(4);
  writer.WriteBytes(kRun, 3);
  writer.WriteBytes(nullptr, 0);
  EXPECT_THAT(buffer, ElementsAre(9, 4, 1, 2, 3));
}

// A writer that overrides WriteByte sees every padding byte too.
class CountingWriter : public ByteBufferStreamWriter {
 public:
  using ByteBufferStreamWriter::ByteBufferStreamWriter;
  void WriteByte(uint8_t byte) override {
    ++bytes_written;
    ByteBufferStreamWriter::WriteByte(byte);
  }
  int bytes_written = 0;
};

TEST(ByteBufferStreamWriterTest, PaddingGoesThroughWriteByte) {
  std::vector<uint8_t> buffer(3);
  CountingWriter writer(&buffer);
  writer.PadToAlignment(8);
  EXPECT_EQ(writer.bytes_written, 5);
}

}  // namespace
}  // namespace flutter
