#include "engine/conversion/convert_file.h"

#include <algorithm>
#include <new>
#include <optional>
#include <thread>

#include "engine/conversion/input.h"
#include "engine/conversion/join.h"
#include "engine/conversion/pipeline.h"
#include "engine/format/field_text.h"
#include "engine/io/background_sink.h"
#include "engine/io/file.h"

namespace halvic {

namespace {

// Where a conversion's seven files go: the output set, replaced as one at the commit, or for a
// check sinks that keep nothing, with no output directory touched and no lock taken.
class CConversionOutput {
  public:
    explicit CConversionOutput(const CConvertOptions& options) : m_options(options) {}

    // Taken before reading, so that a missing or read-only output directory is reported at once;
    // the targets are replaced only at the commit.
    bool Open(CError& error, std::vector<CWarning>& warnings, bool& made) {
        const std::string& dir = m_options.m_strOutputDir;
        if (Checking() && m_options.m_bNoOutputDir) return true;
        if (Checking()) {
            // The same verdict as the conversion's, with nothing made, written or locked.
            if (!m_options.m_bMakeOutputDir) {
                return CFileLock::Check(JoinPath(dir, kLockFileName), error);
            }
            made = !dir.empty() && StatusOf(dir).m_kind == EFileKind::kMissing;
            return CheckOutputDirectory(dir, error);
        }
        if (m_options.m_bMakeOutputDir && !MakeOutputDirectory(dir, made, error)) return false;
        return m_set.Open(dir, m_options.m_output, error, warnings);
    }
    CByteSink& File(std::size_t i) {
        if (!Checking()) return m_set.File(i);
        CByteSink* kept = m_options.m_checkOutputs[i];
        return kept != nullptr ? *kept : static_cast<CByteSink&>(m_discarded[i]);
    }
    std::array<CByteSink*, kTableCount> Tables() {
        std::array<CByteSink*, kTableCount> tables;
        for (std::size_t i = 0; i < kTableCount; ++i)
            tables[i] = &File(i + 1);
        return tables;
    }
    // Ends the writing of all seven; the bytes written.
    std::uint64_t Finish() {
        if (!Checking()) return m_set.Finish();
        std::uint64_t written = 0;
        for (std::size_t i = 0; i < kOutputCount; ++i) {
            File(i).Flush();
            written += File(i).BytesWritten();
        }
        return written;
    }
    bool Commit(CError& error, std::vector<CWarning>& warnings, bool& interrupted) {
        if (Checking()) return true;
        CInterruptsHeld held;  // an interrupt waits until the commit is done or undone
        bool ok = m_set.Commit(error, warnings);
        // The commit is done: ended now, the program would not say so.
        interrupted = ok && m_options.m_bHoldInterruptAfterCommit && held.Pending();
        if (interrupted) held.KeepHeld();
        return ok;
    }

  private:
    bool Checking() const { return m_options.m_bCheckOnly; }

    const CConvertOptions& m_options;
    COutputSet m_set;
    std::array<CDiscardingSink, kOutputCount> m_discarded;
};

// Converts the input into the output's seven files, written but not yet in place. Returns false
// with the failure in `result`.
bool Convert(CConversionInput& input, CConversionOutput& output, CConvertResult& result) {
    const std::size_t warningsBefore = result.m_warnings.size();
    try {
        CValueTables tables;
        // Two threads convert parts (one, with one processor). More would keep more parts
        // waiting to be joined, in memory, for little gain: joining is done one part at a time.
        const unsigned processors = std::thread::hardware_concurrency();
        CPipelineOptions pipeline;
        pipeline.m_nThreads = std::clamp(processors, 1u, 2u);
        pipeline.m_bLookForUtf8 = input.Encoding() == EInputEncoding::kBytes;
        // The record file is most of the output. A thread of its own writes it while the parts
        // are converted where a processor is left over, or where reading a pipe waits at times
        // for the program at its other end. Otherwise that thread only takes turns with
        // the converting ones and is woken for every part, which costs more than the writing:
        // the thread that joins a part writes it.
        std::optional<CBackgroundSink> background;
        if (processors > pipeline.m_nThreads || !input.Regular())
            background.emplace(output.File(0));
        CByteSink& records = background ? *background : static_cast<CByteSink&>(output.File(0));
        CJoinedConversion joined(input.Name(), records, tables);
        ConvertParts(input.Parts(), joined, input.Name(), pipeline);
        result.m_summary = joined.Finish(result.m_warnings);
        if (input.Encoding() != EInputEncoding::kBytes) {
            // The decoder's warnings among the others, in line order; what it decoded past a
            // stop was read ahead, not converted.
            std::vector<CWarning> decoding;
            input.AddWarnings(decoding);
            for (CWarning& warning : decoding) {
                if (!joined.Stopped() || warning.m_nLine <= joined.Stop().m_nLine)
                    result.m_warnings.push_back(std::move(warning));
            }
            std::stable_sort(
                result.m_warnings.begin() + static_cast<std::ptrdiff_t>(warningsBefore),
                result.m_warnings.end(),
                [](const CWarning& a, const CWarning& b) { return a.m_nLine < b.m_nLine; });
        }
        if (result.m_summary.m_nRecords == 0 && input.BytesConverted() > 0) {
            // Its message says more than the warning of the stop, which it replaces.
            result.m_warnings.resize(warningsBefore);
            throw CFailure(
                NothingConverted(input.Name(), joined.Stop(),
                                 StoredAsItIs(input.Encoding()) ? input.Start() : std::string()));
        }
        if (input.BytesConverted() == 0) {
            result.m_warnings.push_back(
                {input.Name(), 0, "the file is empty, so the seven files become empty"});
        }
        if (background) background->Finish();
        WriteTables(tables, output.Tables());
        result.m_summary.m_nBytesWritten = output.Finish();
        return true;
    } catch (const CFailure& failure) {
        result.m_error = failure.Error();
    } catch (const std::bad_alloc&) {
        result.m_error = {input.Name(), 0, "out of memory"};
    }
    return false;
}

// A strict conversion fails on any warning of its input (not those about the output directory,
// which come before `warningsBefore`).
bool FailsStrictly(const CConvertOptions& options, const std::string& inputName,
                   std::size_t warningsBefore, CConvertResult& result) {
    std::uint64_t warned =
        CountWarnings(result.m_warnings.begin() + warningsBefore, result.m_warnings.end());
    if (!options.m_bStrict || warned == 0) return false;
    result.m_error = {
        inputName, 0,
        WithThousands(warned) + (warned == 1 ? " warning" : " warnings") +
            (options.m_bCheckOnly ? ", and any warning fails a strict check"
                                  : ", and any warning fails a strict conversion: no file was "
                                    "replaced")};
    return true;
}

CConvertResult ConvertFileOrThrow(const std::string& path, const CConvertOptions& options) {
    CConvertResult result;
    CConversionInput input(options.m_pProgress);
    if (!input.Open(path, options.m_bDashMeansStdin, result.m_error)) return result;
    CConversionOutput output(options);
    if (!output.Open(result.m_error, result.m_warnings, result.m_bMadeOutputDir)) return result;
    if (!input.ReadAs(options.m_eFrom, result.m_error)) return result;
    const std::size_t warningsBefore = result.m_warnings.size();
    if (!Convert(input, output, result)) return result;
    if (FailsStrictly(options, input.Name(), warningsBefore, result)) return result;
    result.m_bOk = output.Commit(result.m_error, result.m_warnings, result.m_bInterrupted);
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
