// The strip record is read only as the tool writes it: a plain file of a record's size, one flat
// object with each key once and nothing after it. Anything else is refused at once, without
// blocking on a FIFO, reading /dev/zero or a sparse gigabyte, or echoing what it holds.
#include "cli/farm/StripRecord.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/core/PlateMetadata.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using testing::HasSubstr;

namespace {

StripRecord sampleRecord()
{
    StripRecord record;
    record.plateWidth = 64;
    record.plateHeight = 48;
    record.top = 16;
    record.bottom = 32;
    record.bits = 32;
    record.withAlpha = true;
    record.input = "\"shot.####.exr\"";
    record.footage = "0123456789abcdef";
    record.footageType = "half";
    record.footageBits = 32;
    record.dataType = "half";
    record.compressionAsked = "piz";
    record.stripBytes = 1234;
    record.stripChecksum = "fedcba9876543210";
    record.metadata = "00";
    record.settings = {
        {"start", "0"},      {"end", "9"},         {"every", "1"},  {"framesSampled", "10"},
        {"divergence", "3"}, {"ratingRange", "1"}, {"depth", "32"}, {"workingSpace", "\"linear\""}};
    return record;
}

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string failureOf(const std::string &strip)
{
    try {
        readStripRecord(strip);
    } catch (const RunError &error) {
        return error.what();
    }
    return "(read)";
}

TEST(StripRecord, WhatIsWrittenReadsBack)
{
    TempDir dir;
    const std::string strip = dir.file("strip.exr");
    const StripRecord written = sampleRecord();
    writeText(stripRecordPath(strip), stripRecordText(written));
    const StripRecord read = readStripRecord(strip);
    EXPECT_EQ(read.top, 16);
    EXPECT_EQ(read.bits, 32);
    EXPECT_EQ(read.footage, written.footage);
    EXPECT_EQ(read.dataType, "half");
    EXPECT_EQ(read.compressionAsked, "piz");
    EXPECT_EQ(read.stripBytes, 1234u);
    EXPECT_EQ(read.stripChecksum, written.stripChecksum);
    EXPECT_EQ(read.settings, written.settings);

    PlateMetadata metadata;
    metadata.bitsPerSample = 10;
    metadata.provenance = "framemeld; input x";
    metadata.attributes = {{"smpte:TimeCode", "timecode", std::string("\x01\x02\0\0\0\0\0\0", 8)},
                           {"Copyright", "string", std::string("Studio\0", 7)}};
    EXPECT_EQ(decodePlateMetadata(encodePlateMetadata(metadata)), metadata);
    EXPECT_THROW(decodePlateMetadata(encodePlateMetadata(metadata) + "x"), std::runtime_error);
}

TEST(StripRecord, DuplicateKeysTrailingBytesAndOtherShapesAreRefused)
{
    TempDir dir;
    const std::string strip = dir.file("strip.exr");
    const std::string text = stripRecordText(sampleRecord());
    const std::string body = text.substr(0, text.rfind('}'));

    writeText(stripRecordPath(strip), body + ", \"top\": 0}\n");
    EXPECT_THAT(failureOf(strip), HasSubstr("a key given twice"));
    writeText(stripRecordPath(strip), text + "{}");
    EXPECT_THAT(failureOf(strip), HasSubstr("something follows the object"));
    writeText(stripRecordPath(strip), text + std::string(1, '\0'));
    EXPECT_THAT(failureOf(strip), HasSubstr("something follows the object"));

    // A huge value is refused without being shown.
    const std::string huge(2 << 20, 'x');
    std::string hugeText = text;
    hugeText.replace(hugeText.find("\"fedcba9876543210\""), 18, "\"" + huge + "\\\"\"");
    writeText(stripRecordPath(strip), hugeText);
    const std::string message = failureOf(strip);
    EXPECT_THAT(message, HasSubstr("bad stripChecksum"));
    EXPECT_LT(message.size(), 400u);
}

TEST(StripRecord, RecordsThatAreNoPlainFilesOfARecordsSizeAreRefusedUnread)
{
    TempDir dir;
    const std::string strip = dir.file("strip.exr");
    const std::string record = stripRecordPath(strip);

    EXPECT_THAT(failureOf(strip), HasSubstr("no strip record"));
    ASSERT_EQ(mkfifo(record.c_str(), 0600), 0);
    EXPECT_THAT(failureOf(strip), HasSubstr("it is a FIFO")); // and never waits for a writer
    unlink(record.c_str());
    ASSERT_EQ(mkdir(record.c_str(), 0700), 0);
    EXPECT_THAT(failureOf(strip), HasSubstr("it is a folder"));
    rmdir(record.c_str());
    ASSERT_EQ(symlink("/dev/zero", record.c_str()), 0);
    EXPECT_THAT(failureOf(strip), HasSubstr("it is a device"));
    unlink(record.c_str());
    {
        std::ofstream sparse(record, std::ios::binary);
    }
    ASSERT_EQ(truncate(record.c_str(), 1LL << 30), 0);
    EXPECT_THAT(failureOf(strip), HasSubstr("more than the"));
}

} // namespace
