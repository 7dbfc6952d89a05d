#include "engine/convert.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "engine/background_sink.h"
#include "engine/decoders.h"
#include "engine/file.h"
#include "engine/mapped_file.h"
#include "engine/split_convert.h"
#include "engine/threads.h"

namespace halvic {

std::string ShowTag(std::string_view tag, bool cut) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown = "<";
    for (char ch : tag) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown.push_back(ch);
        } else {
            shown += "\\x";
            shown.push_back(kHex[byte >> 4]);
            shown.push_back(kHex[byte & 15]);
        }
    }
    if (cut) shown += "...";
    shown += ">";
    return shown;
}

void AddConversionWarnings(const std::string& inputName, const CStop& stop, std::uint64_t records,
                           const CTagNotes& notes, std::vector<CWarning>& warnings) {
    if (stop.m_bStopped) {
        std::string shown = ShowTag(stop.m_strTag, stop.m_bCut);
        warnings.push_back({inputName, stop.m_nLine,
                            records == 0
                                ? "the first tag is " + shown + ", not <@>; nothing was converted"
                                : "tag " + shown +
                                      " follows an empty tag <> but is not <@>; the rest of the "
                                      "input was ignored"});
    }
    for (const CUnknownTag& unknown : notes.Tags()) {
        warnings.push_back(
            {inputName, unknown.m_nLine,
             "tag " + ShowTag(unknown.m_strTag, unknown.m_bCut) + " selects no field; ignored"});
    }
    if (notes.MoreUses() != 0) {
        warnings.push_back(
            {inputName, notes.MoreLine(),
             WithThousands(notes.MoreUses()) +
                 (notes.MoreUses() == 1 ? " more tag selects" : " more tags select") +
                 " no field, the first here; only the first " + std::to_string(CTagNotes::kListed) +
                 " distinct ones are listed; ignored"});
    }
}

std::string WithThousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    std::string shown;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) shown.push_back(',');
        shown.push_back(digits[i]);
    }
    return shown;
}

CConvertSummary Summarize(std::uint64_t records, const CValueTables& tables, const CStop& stop) {
    CConvertSummary summary;
    summary.m_nRecords = records;
    for (std::size_t i = 0; i < kTableCount; ++i)
        summary.m_distinctTexts[i] = tables[i].Count();
    summary.m_stop = stop;
    return summary;
}

CError NothingConverted(const std::string& inputName, const CStop& stop) {
    if (!stop.m_bStopped) {
        return {inputName, 0,
                "no record was converted, since the file holds no tag, and no file was replaced"};
    }
    const std::string& tag = stop.m_strTag;
    // The first tag is every byte before the first ">", so its start says what came first.
    std::string cause;
    if (tag.rfind("\xEF\xBB\xBF", 0) == 0) {
        cause = "the file begins with a byte-order mark (EF BB BF): save it without one";
    } else if (!tag.empty() && (tag[0] == '\r' || tag[0] == '\n')) {
        cause = "the file begins with a blank line: it must begin with <@>";
    } else if (!tag.empty() && (tag[0] == ' ' || tag[0] == '\t')) {
        cause = "the file begins with a space: it must begin with <@>";
    } else if (tag.find('<') != std::string::npos) {
        cause = "text comes before the first <@>: the file must begin with <@>";
    } else {
        cause = "every record begins with <@>, and so must the file";
    }
    return {inputName, stop.m_nLine,
            "the first tag is " + ShowTag(tag, stop.m_bCut) +
                ", not <@>, so no record was converted and no file was replaced; " + cause};
}
namespace {

// Reads groups ahead of their records and applies them in batches, so that the table look-ups of
// many records wait for memory at the same time instead of one after another; a second thread
// applies one batch while the next is read. Batching changes when things happen, never what: the
// pairs are applied in input order, and a read failure is raised only after everything read
// before it has been applied (a full table found there is reported first, as it would have been).
class CBatchedConversion {
  public:
    CBatchedConversion(CTagFile& reader, CByteSink& records, CValueTables& tables);
    // Ends the applying thread; never throws.
    ~CBatchedConversion();

    CConvertSummary Run(std::vector<CWarning>& warnings);

  private:
    enum EKind : std::uint8_t { kStart, kField, kEnd };
    struct CEvent {
        // kField: the content, lent by the reader or copied into the batch; for a tag that
        // selects no field, the tag instead.
        const char* m_pText;
        std::uint32_t m_nLength;
        EKind m_eKind;
        CFieldChoice m_choice;
        bool m_bCut;
        std::uint16_t m_nNumber;  // kStart
        std::uint64_t m_nLine;
        std::uint64_t m_nHash;  // a table's text
        std::string_view Text() const { return std::string_view(m_pText, m_nLength); }
    };
    struct CBatch {
        std::vector<CEvent> m_events;  // kMaxEvents, the first m_nEvents in use
        std::size_t m_nEvents = 0;
        // Copies of the contents that the reader did not lend. Never grown past its first
        // capacity, so that views into it stay valid for the whole batch.
        std::string m_strBytes;
    };

    // Applied at once instead of copied: long contents, whose copy would cost more memory
    // than it saves time.
    static constexpr std::size_t kLongContent = 4096;
    static constexpr std::size_t kMaxEvents = 8192;
    static constexpr std::size_t kMaxBytes = 1 << 18;

    bool Read(std::string_view& tag, std::string_view& content);
    CEvent& AddEvent(EKind kind);
    void AddField(std::string_view tag, std::string_view content);
    std::string_view Keep(std::string_view bytes);
    bool Full() const {
        return m_pFilling->m_nEvents == kMaxEvents || m_pFilling->m_strBytes.size() >= kMaxBytes;
    }
    // Hands the batch being filled to the applying thread and goes on with the other one.
    void Submit();
    // Applies everything read so far; afterwards the reading thread may touch the record.
    void Apply();
    // Waits until the applying thread is idle; raises its failure, if any.
    void WaitApplied();
    void RunApplier();
    void ApplyBatch(CBatch& batch);
    void ApplyTable(std::size_t table, std::string_view content, std::uint64_t hash,
                    std::uint64_t line);

    CTagFile& m_reader;
    CByteSink& m_records;
    CValueTables& m_tables;
    // Touched by the applying thread while it applies a batch, otherwise by the reading thread.
    CRecord m_record;
    CTagNotes m_notes;
    std::uint64_t m_nRecords = 0;

    CBatch m_batches[2];
    CBatch* m_pFilling = &m_batches[0];
    // The applying thread starts with the first full batch, so a small input never starts it;
    // when it cannot be started, the reading thread applies each batch itself.
    std::thread m_applier;
    bool m_bNoApplier = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    CBatch* m_pApplying = nullptr;  // handed to the applying thread, not yet applied
    bool m_bStopping = false;
    std::exception_ptr m_failure;  // raised again by every later WaitApplied
};

CBatchedConversion::CBatchedConversion(CTagFile& reader, CByteSink& records, CValueTables& tables)
    : m_reader(reader), m_records(records), m_tables(tables) {
    for (CBatch& batch : m_batches) {
        batch.m_events.resize(kMaxEvents);
        batch.m_strBytes.reserve(kMaxBytes + kLongContent);
    }
}

CBatchedConversion::~CBatchedConversion() {
    if (!m_applier.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
    }
    m_changed.notify_all();
    m_applier.join();
}

bool CBatchedConversion::Read(std::string_view& tag, std::string_view& content) {
    try {
        return m_reader.ReadTag(tag, content);
    } catch (const CFailure&) {
        Apply();
        throw;
    }
}

CBatchedConversion::CEvent& CBatchedConversion::AddEvent(EKind kind) {
    if (m_pFilling->m_nEvents == kMaxEvents) Submit();
    CEvent& event = m_pFilling->m_events[m_pFilling->m_nEvents++];
    event.m_eKind = kind;
    return event;
}

std::string_view CBatchedConversion::Keep(std::string_view bytes) {
    std::string& kept = m_pFilling->m_strBytes;
    if (bytes.size() > kept.capacity() - kept.size()) {
        Submit();
        return Keep(bytes);
    }
    std::size_t offset = kept.size();
    kept.append(bytes);
    return std::string_view(kept).substr(offset);
}

void CBatchedConversion::AddField(std::string_view tag, std::string_view content) {
    CFieldChoice choice = ChooseField(tag);
    if (content.size() > kLongContent) {
        Apply();
        if (choice.m_eKind == CFieldChoice::kTable) {
            ApplyTable(choice.m_nTable, content, CValueTable::Hash(content), m_reader.TagLine());
        } else if (choice.m_eKind == CFieldChoice::kNone) {
            m_notes.Note(tag, m_reader.TagCut(), m_reader.TagLine());
        } else if (choice.m_eKind == CFieldChoice::kText) {
            // Moved, not copied: a content of many megabytes is then held once.
            m_reader.TakeContent(m_record.text);
        } else {
            m_record.SetField(choice, content);
        }
        return;
    }
    // Room for the event first: the bytes kept for it must be in the batch it goes into.
    if (m_pFilling->m_nEvents == kMaxEvents) Submit();
    // A tag that selects no field keeps the tag for its warning; every other, its content.
    std::string_view text = choice.m_eKind == CFieldChoice::kNone ? Keep(tag)
                            : m_reader.ContentLasts()             ? content
                                                                  : Keep(content);
    CEvent& event = AddEvent(kField);
    event.m_choice = choice;
    event.m_bCut = m_reader.TagCut();
    event.m_nLine = m_reader.TagLine();
    event.m_pText = text.data();
    event.m_nLength = static_cast<std::uint32_t>(text.size());
    // Hashed while the content is at hand.
    if (choice.m_eKind == CFieldChoice::kTable) event.m_nHash = CValueTable::Hash(text);
}

void CBatchedConversion::Submit() {
    WaitApplied();
    if (!m_applier.joinable() &&
        (m_bNoApplier || !TryStartThread(m_applier, &CBatchedConversion::RunApplier, this))) {
        m_bNoApplier = true;
        // Applied here and now; the batch, emptied, is filled again.
        ApplyBatch(*m_pFilling);
        m_pFilling->m_nEvents = 0;
        m_pFilling->m_strBytes.clear();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pApplying = m_pFilling;
    }
    m_changed.notify_all();
    // The other batch was applied before: WaitApplied.
    m_pFilling = m_pFilling == &m_batches[0] ? &m_batches[1] : &m_batches[0];
    m_pFilling->m_nEvents = 0;
    m_pFilling->m_strBytes.clear();
}

void CBatchedConversion::Apply() {
    if (m_applier.joinable()) {
        Submit();
        WaitApplied();
    } else {
        ApplyBatch(*m_pFilling);
    }
}

void CBatchedConversion::WaitApplied() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_pApplying == nullptr; });
    if (m_failure) std::rethrow_exception(m_failure);
}

void CBatchedConversion::RunApplier() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_pApplying != nullptr || m_bStopping; });
        if (m_pApplying == nullptr) return;
        CBatch* batch = m_pApplying;
        // Nothing is applied after a failure.
        bool failed = m_failure != nullptr;
        lock.unlock();
        std::exception_ptr failure;
        if (!failed) {
            try {
                ApplyBatch(*batch);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        lock.lock();
        if (failure) m_failure = failure;
        m_pApplying = nullptr;
        m_changed.notify_all();
    }
}

void CBatchedConversion::ApplyTable(std::size_t table, std::string_view content, std::uint64_t hash,
                                    std::uint64_t line) {
    std::uint16_t id = m_tables[table].Intern(content, hash);
    if (id == 0) throw TableFullFailure(m_reader.Name(), line, table);
    m_record.tableIds[table] = id;
}

void CBatchedConversion::ApplyBatch(CBatch& batch) {
    std::size_t count = batch.m_nEvents;
    const CEvent* events = batch.m_events.data();
    for (std::size_t i = 0; i < count; ++i) {
        if (events[i].m_eKind == kField && events[i].m_choice.m_eKind == CFieldChoice::kTable)
            m_tables[events[i].m_choice.m_nTable].PrefetchSlot(events[i].m_nHash);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (events[i].m_eKind == kField && events[i].m_choice.m_eKind == CFieldChoice::kTable)
            m_tables[events[i].m_choice.m_nTable].PrefetchText(events[i].m_nHash);
    }
    // Events are taken off the batch before they are applied, so that a failure part of the
    // way through leaves none to be applied twice.
    batch.m_nEvents = 0;
    // The record's text stays a view into the batch until the batch is done: one copy fewer.
    std::string_view text = m_record.text;
    bool textInBatch = false;
    for (std::size_t i = 0; i < count; ++i) {
        const CEvent& event = events[i];
        if (event.m_eKind == kStart) {
            m_record.number = event.m_nNumber;
        } else if (event.m_eKind == kEnd) {
            m_record.Write(m_records, text);
            ++m_nRecords;
        } else if (event.m_choice.m_eKind == CFieldChoice::kText) {
            text = event.Text();
            textInBatch = true;
        } else if (event.m_choice.m_eKind == CFieldChoice::kTable) {
            ApplyTable(event.m_choice.m_nTable, event.Text(), event.m_nHash, event.m_nLine);
        } else if (event.m_choice.m_eKind == CFieldChoice::kNone) {
            m_notes.Note(event.Text(), event.m_bCut, event.m_nLine);
        } else {
            m_record.SetField(event.m_choice, event.Text());
        }
    }
    if (textInBatch) m_record.text.assign(text);
    batch.m_strBytes.clear();
}

CConvertSummary CBatchedConversion::Run(std::vector<CWarning>& warnings) {
    std::string_view tag;
    std::string_view content;
    CStop stop;
    while (Read(tag, content)) {
        if (tag != "@") {
            // A group ends at "@", at an empty tag or at the end of the input, so a tag other
            // than "@" here either starts the file or follows an empty tag.
            stop = {true, std::string(tag), m_reader.TagCut(), m_reader.TagLine()};
            break;
        }
        CEvent& start = AddEvent(kStart);
        start.m_nNumber = static_cast<std::uint16_t>(ParseDigits(content));
        // The group's pairs, up to the next "@" (handed back to the reader), an empty tag or the
        // end of the input, where the tag is empty too.
        Read(tag, content);
        while (tag != "@" && !tag.empty()) {
            AddField(tag, content);
            // A long group is applied part by part: memory stays bounded whatever its length, and
            // a full table stops the reading at once.
            if (Full()) Submit();
            Read(tag, content);
        }
        if (tag == "@") m_reader.m_bPushedBack = 1;
        AddEvent(kEnd);
        if (Full()) Submit();
    }
    Apply();

    AddConversionWarnings(m_reader.Name(), stop, m_nRecords, m_notes, warnings);
    return Summarize(m_nRecords, m_tables, stop);
}

}  // namespace

CConvertSummary ConvertTags(CTagFile& reader, CByteSink& records, CValueTables& tables,
                            std::vector<CWarning>& warnings) {
    return CBatchedConversion(reader, records, tables).Run(warnings);
}

namespace {

// Below this, a mapped input is read in one go: parts would cost more than they save.
constexpr std::size_t kSplitAbove = std::size_t{8} << 20;

}  // namespace

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
        CTagFile reader(counted, inputName);
        CValueTables tables;
        // The record file is most of the output; it is written while the reading goes on.
        CBackgroundSink records(*files[0]);
        // A file of some size is converted in parts on two threads (one, with one processor),
        // unless its records lie too far apart to be split. More threads would keep more parts
        // waiting to be joined, in memory, for little gain: joining is done one part at a time.
        std::optional<CConvertSummary> split;
        if (source == &mapped && mapped.Bytes().size() >= kSplitAbove) {
            CSplitOptions options;
            options.m_nThreads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
            options.m_release = [&mapped](std::size_t begin, std::size_t end) {
                mapped.Release(begin, end);
            };
            options.m_joined = [&mapped, &progress, &inputName](std::size_t end) {
                mapped.ReachedForTesting(end);
                if (progress.m_bCancel) throw CFailure({inputName, 0, kCancelledMessage});
                progress.m_nRead = end;
            };
            split = ConvertInParts(mapped.Bytes(), inputName, records, tables, result.m_warnings,
                                   options);
        }
        result.m_summary =
            split ? *split : ConvertTags(reader, records, tables, result.m_warnings);
        // Cut short while it was read, the input was read partly as zeros.
        if (source == &mapped) mapped.CheckWhole();
        if (result.m_summary.m_nRecords == 0 && progress.m_nRead > 0) {
            // Its message says more than the warning of the stop, which it replaces.
            result.m_warnings.resize(warningsBefore);
            throw CFailure(NothingConverted(inputName, result.m_summary.m_stop));
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
