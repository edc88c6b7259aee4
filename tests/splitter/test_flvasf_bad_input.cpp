// Every FLV and ASF test file cut short at many places and with bytes changed at random:
// the readers open it or refuse it with their codes, and never crash, hang or read
// outside their buffers (the sanitizer build runs this too).
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "asf.h"
#include "flv.h"
#include "flvasf_driver.h"

using namespace flvasf;

namespace {

struct Codes {
    std::set<int> open, read, seek;
};

const Codes kFlv = {{ERR_NONE, ERR_END_OF_FILE, ERR_NOT_SUPPORTED, ERR_INVALID_DATA},
                    {ERR_NONE, ERR_END_OF_FILE, ERR_NOT_SUPPORTED, ERR_OUT_OF_MEMORY},
                    {ERR_NONE}};
const Codes kAsf = {{ERR_NONE, ERR_INVALID_DATA, ERR_OUT_OF_MEMORY, ERR_NOT_SUPPORTED, ERR_READ},
                    {ERR_NONE, ERR_END_OF_FILE, ERR_NO_PACKET, ERR_OUT_OF_MEMORY},
                    {ERR_NONE, ERR_NOT_SUPPORTED, ERR_INVALID_PARAM, ERR_READ}};

// Opens, reads everything (bounded), seeks to the middle and reads on. Counts the files
// that opened and the packets read.
void OpenAndRead(fourcc_t cls, const std::vector<uint8_t>& bytes, const Codes& codes, fourcc_t streamClass,
                 const std::string& what, int* opened, long* packets) {
    Opened o(cls, Memory(bytes, streamClass));
    ASSERT_TRUE(codes.open.count(o.result())) << what << ": open gave " << o.result();
    if (o.result() != ERR_NONE) return;
    ++*opened;
    for (int round = 0; round < 2; ++round) {
        int calls = 0, r = ERR_NONE;
        // Each call moves on through the file: far fewer calls than bytes.
        while (calls < static_cast<int>(bytes.size()) + 10) {
            ++calls;
            r = o.Read(nullptr, 0);
            ASSERT_TRUE(codes.read.count(r)) << what << ": read gave " << r;
            if (r == ERR_NONE) ++*packets;
            if (r != ERR_NONE && r != ERR_NO_PACKET) break;
        }
        ASSERT_NE(r, ERR_NONE) << what << ": no end after " << calls << " calls";
        if (round == 0) {
            int s = cls == FLV_CLASS ? o.Seek(-1, static_cast<int>(bytes.size() / 2)) : o.Seek(16384, -1);
            ASSERT_TRUE(codes.seek.count(s)) << what << ": seek gave " << s;
        }
    }
}

struct Case {
    const char* file;
    fourcc_t reader;
    fourcc_t streamClass;
};

class BadInput : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        FlvRegister();
        AsfRegister();
    }
    void TearDown() override {
        FlvUnRegister();
        AsfUnRegister();
    }
};

TEST_P(BadInput, CutAndChangedFilesOpenOrFailWithTheirCodes) {
    const Case& c = GetParam();
    std::vector<uint8_t> file = ReadFileBytes(DataPath(c.file));
    ASSERT_FALSE(file.empty());
    const Codes& codes = c.reader == FLV_CLASS ? kFlv : kAsf;
    int opened = 0;
    long packets = 0, intact = 0;
    OpenAndRead(c.reader, file, codes, c.streamClass, c.file, &opened, &intact);
    opened = 0;
    // Cut: every length up to 128 bytes (the headers), then 200 lengths spread over the file.
    std::vector<size_t> cuts;
    for (size_t n = 0; n < 128 && n < file.size(); ++n) cuts.push_back(n);
    for (int i = 0; i < 200; ++i) cuts.push_back(file.size() * static_cast<size_t>(i) / 200);
    for (size_t n : cuts) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(n));
        OpenAndRead(c.reader, cut, codes, c.streamClass, std::string(c.file) + " cut at " + std::to_string(n), &opened,
                    &packets);
        if (HasFatalFailure()) return;
    }
    // Changed: 300 copies with 1 to 8 random bytes changed, half of them within the headers.
    std::mt19937 random(20261210);
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> changed = file;
        int count = 1 + static_cast<int>(random() % 8);
        size_t range = i % 2 ? std::min<size_t>(file.size(), 1200) : file.size();
        for (int k = 0; k < count; ++k) changed[random() % range] = static_cast<uint8_t>(random());
        OpenAndRead(c.reader, changed, codes, c.streamClass, std::string(c.file) + " changed, round " + std::to_string(i),
                    &opened, &packets);
        if (HasFatalFailure()) return;
    }
    // Most cut and changed files still open and give packets: the runs did read them.
    EXPECT_GT(opened, 250);
    if (intact > 0) {
        EXPECT_GT(packets, opened);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInput,
    ::testing::Values(Case{"flv/h263-mp3.flv", FLV_CLASS, 0}, Case{"flv/h263-adpcm.flv", FLV_CLASS, HTTP_CLASS},
                      Case{"flv/zero-size-tags.flv", FLV_CLASS, 0}, Case{"flv/vp6.flv", FLV_CLASS, 0},
                      Case{"asf/wmv2-wma2.asf", RASF_CLASS, 0}, Case{"asf/broadcast.asf", RASF_CLASS, 0},
                      Case{"asf/spread-compressed.asf", RASF_CLASS, 0},
                      Case{"asf/wmv2-wma2.mms", RASH_CLASS, HTTP_CLASS}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = info.param.file;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name + (info.param.reader == RASH_CLASS ? "_rash" : "");
    });

}  // namespace
