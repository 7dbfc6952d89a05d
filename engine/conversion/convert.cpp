#include "engine/conversion/convert.h"

#include <algorithm>
#include <new>
#include <thread>

#include "engine/conversion/conversion.h"
#include "engine/conversion/pipeline.h"
#include "engine/io/background_sink.h"
#include "engine/io/file.h"
#include "engine/io/mapped_file.h"

namespace halvic {

namespace {

// Counts the bytes read from a source for a progress report, and stops the reading when the
// caller has asked for that.
class CCountingSource : public CByteSource {
  public:
    CCountingSource(CByteSource& source, CConvertProgress& progress, std::string name)
        : m_source(source), m_progress(progress), m_strName(std::move(name)) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        return Count(m_source.Read(buffer, capacity));
    }
    bool Lends() const override { return m_source.Lends(); }
    std::string_view Lend() override {
        std::string_view piece = m_source.Lend();
        Count(piece.size());
        return piece;
    }

  private:
    std::size_t Count(std::size_t bytes) {
        if (m_progress.m_bCancel) throw CFailure({m_strName, 0, kCancelledMessage});
        m_progress.m_nRead += bytes;
        return bytes;
    }

    CByteSource& m_source;
    CConvertProgress& m_progress;
    std::string m_strName;
};

CConvertResult ConvertFileOrThrow(const std::string& path, const CConvertOptions& options) {
    CConvertResult result;
    CInputFile input;
    // A regular file is mapped rather than read; anything else (standard input, a pipe, a file
    // that cannot be mapped) is read as a stream.
    CMappedFile mapped;
    CByteSource* source = &mapped;
    if (options.m_bDashMeansStdin && path == "-") {
        input.OpenStandardInput();
        source = &input;
    } else if (!mapped.Map(path)) {
        if (!input.Open(path, result.m_error)) return result;
        source = &input;
    }
    const std::string& inputName = source == &input ? input.Name() : path;
    CConvertProgress unwatched;
    CConvertProgress& progress = options.m_pProgress ? *options.m_pProgress : unwatched;
    if (source == &mapped) progress.m_nTotal = mapped.Bytes().size();
    CCountingSource counted(*source, progress, inputName);

    // Taken before reading, so that a missing or read-only output directory is reported at
    // once; the targets are replaced only at the very end.
    COutputSet outputs;
    // A check converts into sinks that keep nothing, and touches no output directory.
    std::array<CDiscardingSink, kOutputCount> discarded;
    std::array<CByteSink*, kOutputCount> files;
    for (std::size_t i = 0; i < kOutputCount; ++i)
        files[i] = options.m_bCheckOnly ? static_cast<CByteSink*>(&discarded[i]) : &outputs.File(i);
    if (!options.m_bCheckOnly && !outputs.Open(options.m_strOutputDir, options.m_output,
                                               result.m_error, result.m_warnings)) {
        return result;
    }
    const std::size_t warningsBefore = result.m_warnings.size();
    try {
        CValueTables tables;
        // The record file is most of the output; it is written while the reading goes on.
        CBackgroundSink records(*files[0]);
        CJoinedConversion joined(inputName, records, tables);
        // Two threads convert parts (one, with one processor). More would keep more parts
        // waiting to be joined, in memory, for little gain: joining is done one part at a time.
        CPipelineOptions pipeline;
        pipeline.m_nThreads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
        if (source == &mapped) {
            auto reached = [&mapped, &progress, &inputName](std::uint64_t end) {
                mapped.ReachedForTesting(static_cast<std::size_t>(end));
                if (progress.m_bCancel) throw CFailure({inputName, 0, kCancelledMessage});
                progress.m_nRead = end;
            };
            CMappedParts parts(
                mapped.Bytes(), CPartSizes(),
                [&mapped](std::size_t begin, std::size_t end) { mapped.Release(begin, end); },
                reached);
            pipeline.m_joined = reached;
            ConvertParts(parts, joined, inputName, pipeline);
        } else {
            // Counted as it is read: the size of a stream is known only at its end.
            CStreamParts parts(counted, CPartSizes());
            ConvertParts(parts, joined, inputName, pipeline);
        }
        result.m_summary = joined.Finish(result.m_warnings);
        // Cut short while it was read, the input was read partly as zeros.
        if (source == &mapped) mapped.CheckWhole();
        if (result.m_summary.m_nRecords == 0 && progress.m_nRead > 0) {
            // Its message says more than the warning of the stop, which it replaces.
            result.m_warnings.resize(warningsBefore);
            throw CFailure(NothingConverted(inputName, joined.Stop()));
        }
        if (progress.m_nRead == 0) {
            result.m_warnings.push_back(
                {inputName, 0, "the file is empty, so the seven files become empty"});
        }
        records.Finish();
        std::array<CByteSink*, kTableCount> sinks;
        for (std::size_t i = 0; i < kTableCount; ++i)
            sinks[i] = files[i + 1];
        WriteTables(tables, sinks);
        if (options.m_bCheckOnly) {
            for (CByteSink* file : files)
                result.m_summary.m_nBytesWritten += file->BytesWritten();
        } else {
            result.m_summary.m_nBytesWritten = outputs.Finish();
        }
    } catch (const CFailure& failure) {
        result.m_error = failure.Error();
        if (source == &mapped && mapped.CutShort()) {
            // Whatever else failed, or was warned of, came of reading zeros for the file.
            result.m_error = mapped.CutShortError();
            result.m_warnings.resize(warningsBefore);
        }
        return result;
    } catch (const std::bad_alloc&) {
        result.m_error = {inputName, 0, "out of memory"};
        return result;
    }
    std::size_t warned = result.m_warnings.size() - warningsBefore;
    if (options.m_bStrict && warned > 0) {
        result.m_error = {inputName, 0,
                          std::to_string(warned) + (warned == 1 ? " warning" : " warnings") +
                              ", and any warning fails a strict conversion: no file was replaced"};
        return result;
    }
    if (options.m_bCheckOnly) {
        result.m_bOk = true;
        return result;
    }
    CInterruptsHeld held;  // an interrupt waits until the commit is done or undone
    result.m_bOk = outputs.Commit(result.m_error);
    return result;
}

}  // namespace

CConvertResult ConvertFile(const std::string& path, const CConvertOptions& options) {
    try {
        return ConvertFileOrThrow(path, options);
    } catch (const std::bad_alloc&) {
        // Outside the conversion itself: taking the output directory, say.
        CConvertResult result;
        result.m_error = {path, 0, "out of memory"};
        return result;
    }
}

}  // namespace halvic
