// The output reader on any bytes: it never crashes or reads out of bounds, what it accepts is
// exactly what the writer writes for the records it returns, and the records before a fault are
// exactly the bytes before it.
//
// The input is split into the seven files: the first six bytes give the lengths of the table
// files m, a, n, i, c and s, whose bytes follow in that order; the rest is the record file.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/byte_stream.h"
#include "engine/output_reader.h"
#include "engine/record.h"
#include "tests/support/output_files.h"

namespace {

using namespace halvic;
using testing::COutputFiles;
using testing::COutputReadResult;
using testing::ReadOutput;

constexpr std::size_t kMaxInput = 64 * 1024;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "output reader check failed: %s: %s\n", what, detail.c_str());
    std::abort();
}

std::string Encode(const std::vector<CRecord>& records) {
    CMemorySink sink;
    for (const CRecord& record : records)
        record.Write(sink);
    return sink.Bytes();
}

std::string EncodeTable(const CTableTexts& texts) {
    CMemorySink sink;
    for (const std::string& text : texts)
        WriteTerminatedText(sink, text);
    return sink.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    COutputFiles files;
    files.m_strDir = "out";
    std::size_t at = 0;
    std::size_t lengths[kTableCount] = {};
    for (std::size_t i = 0; i < kTableCount && at < size; ++i)
        lengths[i] = data[at++];
    for (std::size_t i = 0; i < kTableCount; ++i) {
        std::size_t length = std::min(lengths[i], size - at);
        files.m_tables[i].assign(reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    files.m_strRecords.assign(reinterpret_cast<const char*>(data + at), size - at);

    COutputReadResult result = ReadOutput(files);
    const std::string encoded = Encode(result.m_records);
    // Read in blocks, as dump reads, the record file gives the same records and fault.
    if (result.m_bOk || result.m_error.m_strFile == "out/qxase.qxd") {
        std::array<std::size_t, kTableCount> sizes = TableSizes(result.m_tables);
        std::size_t block = 1 + size % 23;
        CMemorySource source(files.m_strRecords, block);
        CRecordFileReader reader(source, "out/qxase.qxd", sizes, block);
        std::vector<CRecord> records;
        CRecord record;
        while (reader.Next(record))
            records.push_back(record);
        if (result.m_bOk ? reader.Failed() : !reader.Failed()) Fail("read in blocks", "");
        if (Encode(records) != encoded) Fail("records read in blocks differ", "");
        if (reader.Failed() && reader.Error().Message() != result.m_error.Message())
            Fail("fault read in blocks differs", reader.Error().Message());
    }
    if (result.m_bOk) {
        // Strict reading: an accepted file is the writer's own output for what was read.
        if (encoded != files.m_strRecords) Fail("accepted records write other bytes", "");
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (EncodeTable(result.m_tables[i]) != files.m_tables[i]) {
                Fail("accepted table writes other bytes", TableFileName(i));
            }
        }
        for (const CRecord& record : result.m_records) {
            for (std::size_t i = 0; i < kTableCount; ++i) {
                if (record.tableIds[i] > result.m_tables[i].size()) {
                    Fail("identifier beyond its table", TableFileName(i));
                }
            }
        }
        return 0;
    }
    // A fault: the records before it are the file's first bytes, and the message names a file
    // and an offset.
    if (files.m_strRecords.compare(0, encoded.size(), encoded) != 0) {
        Fail("records before the fault are not the file's first bytes", "");
    }
    const std::string message = result.m_error.Message();
    if (message.rfind("out/qx", 0) != 0 || message.find(".qxd: offset ") == std::string::npos) {
        Fail("message without a file and an offset", message);
    }
    return 0;
}
