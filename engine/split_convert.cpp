#include "engine/split_convert.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/decoders.h"
#include "engine/record.h"
#include "engine/tag_file.h"
#include "engine/threads.h"

namespace halvic {

std::size_t FindPartStart(std::string_view input, std::size_t from) {
    // A reader is inside a content exactly when the last '<' or '>' it has read is a '>' (a '>'
    // ends a tag or belongs to a content; a '<' starts a tag or belongs to one). Looked for only
    // this far back: a part start is wanted near, not at, a given offset.
    constexpr std::size_t kLookBack = 4096;
    for (std::size_t p = from;; ++p) {
        p = input.find("<@>", p);
        if (p == std::string_view::npos) return input.size();
        std::size_t stop = p > kLookBack ? p - kLookBack : 0;
        std::size_t last = p;
        while (last > stop && input[last - 1] != '<' && input[last - 1] != '>')
            --last;
        if (last == stop || input[last - 1] != '>') continue;
        // The pair before must have a tag: a reader that meets the end of its input after an
        // empty tag hands out no pair, where one that goes on hands out the empty tag, which
        // stops the conversion. The last '<' starts that tag or lies inside it.
        while (last > stop && input[last - 1] != '<')
            --last;
        if (last == stop || input[last] == '>') continue;
        // A pushed-back pair hands out the last chunk of its content only, a reader that starts
        // here the whole of it: the same when it is shorter than a chunk.
        std::size_t next = input.find('<', p + 3);
        if (next == std::string_view::npos || next - (p + 3) >= CTagFile::kChunkFlush) continue;
        return p;
    }
}

namespace {

// The fields a record can set but its table identifiers, as bits, and the bit of each choice.
constexpr unsigned kTextSet = 1;
constexpr unsigned kBValueSet = 2;
constexpr unsigned kWeightSet = 4;
constexpr unsigned kGridSet = 8;
constexpr unsigned kAllSet = 15;
constexpr unsigned SetBit(CFieldChoice::EKind kind) {
    switch (kind) {
        case CFieldChoice::kText:
            return kTextSet;
        case CFieldChoice::kBValue:
            return kBValueSet;
        case CFieldChoice::kWeight:
            return kWeightSet;
        case CFieldChoice::kGridRef:
            return kGridSet;
        default:
            return 0;
    }
}

// The identifiers of a record, in the record file: the last 13 bytes but its final zero.
constexpr std::size_t kIdBytesFromEnd = 1 + 2 * kTableCount;

// A record of a part that keeps a field from the record before the part: kept as values until
// that record is known.
struct CPendingRecord {
    CRecord m_record;
    unsigned m_nSet;  // the fields set within the part
};

// A table text of a part. Its identifier depends on every text before it, so it is given when the
// part is joined, in order.
struct CTableText {
    std::uint64_t m_nHash;
    std::uint32_t m_nWhere;  // in the part, or when m_bKept in the part's kept bytes
    std::uint32_t m_nLength;
    std::uint32_t m_nLine;  // in the part, from 1
    std::uint8_t m_nTable;
    bool m_bKept;
};

// A part converted on its own: lines count from its start, and its records hold no identifiers.
struct CPart {
    std::string_view m_bytes;  // of the input
    std::string m_strRecords;  // the records that set every field but the tables within the part
    std::vector<std::uint32_t> m_idOffsets;  // where the identifiers of each of those begin
    std::vector<CPendingRecord> m_pending;  // the records before them
    std::vector<CTableText> m_texts;        // in order
    std::vector<std::uint32_t> m_textCounts;  // the table texts of each record, in order
    std::string m_strKept;  // contents that are not the input's bytes
    CTagNotes m_notes;
    CRecord m_last;  // the part's last record
    std::uint64_t m_nRecords = 0;
    std::uint64_t m_nLines = 0;
    CStop m_stop;
    std::exception_ptr m_failure;

    // Made ready for another part, keeping the memory of this one.
    void Clear() {
        m_strRecords.clear();
        m_idOffsets.clear();
        m_pending.clear();
        m_texts.clear();
        m_textCounts.clear();
        m_strKept.clear();
        m_notes = CTagNotes();
        m_last = CRecord();
        m_nRecords = 0;
        m_nLines = 0;
        m_stop = CStop();
        m_failure = nullptr;
    }
};

// Converts the part `bytes` of the input into `part`, as if it began the input.
void ConvertPart(std::string_view bytes, const std::string& name, CPart& part) {
    part.m_bytes = bytes;
    CMemorySource source(bytes, SIZE_MAX, true);
    CTagFile reader(source, name);
    CMemorySink sink(part.m_strRecords, 1 << 14);
    CRecord record;
    unsigned set = 0;
    std::uint32_t texts = 0;
    std::string_view tag;
    std::string_view content;
    while (reader.ReadTag(tag, content)) {
        if (tag != "@") {
            part.m_stop = {true, std::string(tag), reader.TagCut(), reader.TagLine()};
            break;
        }
        record.number = static_cast<std::uint16_t>(ParseDigits(content));
        reader.ReadTag(tag, content);
        while (tag != "@" && !tag.empty()) {
            CFieldChoice choice = ChooseField(tag);
            switch (choice.m_eKind) {
                case CFieldChoice::kTable: {
                    // Parts are at most 128 MB (PartsFit): offsets and lines fit 32 bits.
                    CTableText text{CValueTable::Hash(content), 0,
                                    static_cast<std::uint32_t>(content.size()),
                                    static_cast<std::uint32_t>(reader.TagLine()),
                                    choice.m_nTable, !reader.ContentLasts()};
                    if (text.m_bKept) {
                        text.m_nWhere = static_cast<std::uint32_t>(part.m_strKept.size());
                        part.m_strKept.append(content);
                    } else {
                        text.m_nWhere = static_cast<std::uint32_t>(content.data() - bytes.data());
                    }
                    part.m_texts.push_back(text);
                    ++texts;
                    break;
                }
                case CFieldChoice::kNone:
                    part.m_notes.Note(tag, reader.TagCut(), reader.TagLine());
                    break;
                default:
                    set |= SetBit(choice.m_eKind);
                    record.SetField(choice, content);
                    break;
            }
            reader.ReadTag(tag, content);
        }
        if (tag == "@") reader.m_bPushedBack = 1;
        part.m_textCounts.push_back(texts);
        texts = 0;
        if (set == kAllSet) {
            record.Write(sink);
            part.m_idOffsets.push_back(
                static_cast<std::uint32_t>(sink.BytesWritten() - kIdBytesFromEnd));
        } else {
            part.m_pending.push_back({record, set});
        }
        ++part.m_nRecords;
    }
    sink.Flush();
    part.m_last = std::move(record);
    part.m_nLines = reader.LinesRead();
}

// Notes the tags of the part `bytes` that select no field, as ConvertPart reads them, with lines
// counted on from `lineOffset`.
void NoteUnknownTags(std::string_view bytes, const std::string& name, std::uint64_t lineOffset,
                     CTagNotes& notes) {
    CMemorySource source(bytes, SIZE_MAX, true);
    CTagFile reader(source, name);
    std::string_view tag;
    std::string_view content;
    while (reader.ReadTag(tag, content)) {
        if (tag != "@") break;
        reader.ReadTag(tag, content);
        while (tag != "@" && !tag.empty()) {
            if (ChooseField(tag).m_eKind == CFieldChoice::kNone)
                notes.Note(tag, reader.TagCut(), lineOffset + reader.TagLine());
            reader.ReadTag(tag, content);
        }
        if (tag == "@") reader.m_bPushedBack = 1;
    }
}

void PutId(std::string& bytes, std::size_t at, std::uint16_t id) {
    bytes[at] = static_cast<char>(id & 0xFF);
    bytes[at + 1] = static_cast<char>(id >> 8);
}

class CSplitConversion {
  public:
    CSplitConversion(std::string_view input, const std::string& name, CByteSink& records,
                     CValueTables& tables, const CSplitOptions& options);
    // Whether no part is longer than the options allow.
    bool PartsFit() const {
        return m_nLargestPart <= std::min<std::size_t>(m_options.m_nLargestPart, kLargestPart);
    }
    CConvertSummary Run(std::vector<CWarning>& warnings);

  private:
    // Offsets within a part, and the offsets of its records' identifiers, take 32 bits; a
    // record takes at most 16 bytes a byte of input.
    static constexpr std::size_t kLargestPart = std::size_t{1} << 27;

    // Converts parts and joins them while there are any; a failure (out of memory) ends the
    // conversion instead of the thread.
    void WorkSafely();
    void Work();
    // Joins the parts that are next in order and ready, unless another thread is joining.
    void JoinReady(std::unique_lock<std::mutex>& lock);
    void Join(CPart& part);

    std::string_view m_input;
    const std::string& m_strName;
    CByteSink& m_records;
    CValueTables& m_tables;
    const CSplitOptions& m_options;
    std::vector<std::size_t> m_starts;  // of the parts, and the input's end
    std::size_t m_nLargestPart = 0;

    // The whole conversion so far: touched only by the joining thread.
    CRecord m_record;  // the last record written
    std::uint64_t m_nLines = 0;
    std::uint64_t m_nRecords = 0;
    CTagNotes m_notes;
    CStop m_stop;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<CPart>> m_parts;  // converted, waiting to be joined
    std::size_t m_nNext = 0;                      // the next part to convert
    std::size_t m_nJoined = 0;
    bool m_bJoining = false;
    bool m_bEnded = false;  // a stop or a failure: nothing more is converted or joined
    std::exception_ptr m_failure;
    std::vector<std::unique_ptr<CPart>> m_spare;  // joined parts, to use again
};

CSplitConversion::CSplitConversion(std::string_view input, const std::string& name,
                                   CByteSink& records, CValueTables& tables,
                                   const CSplitOptions& options)
    : m_input(input), m_strName(name), m_records(records), m_tables(tables), m_options(options) {
    std::size_t partSize = options.m_nPartSize == 0 ? 1 : options.m_nPartSize;
    for (std::size_t start = 0; start < input.size();) {
        m_starts.push_back(start);
        if (input.size() - start <= partSize) break;
        // Looked for no further than a part may reach: an input without record starts is not
        // read through (and its pages not brought in) only to find that it cannot be split.
        std::string_view reach =
            input.substr(0, start + std::min(input.size() - start, options.m_nLargestPart));
        std::size_t from = start;
        start = FindPartStart(reach, start + partSize);
        // The little of the input brought in to find the start is given back at once, or memory
        // would grow with the input's size.
        if (options.m_release) options.m_release(from, start);
        if (start == reach.size() && start < input.size()) {
            m_nLargestPart = SIZE_MAX;
            return;
        }
    }
    m_starts.push_back(input.size());
    m_parts.resize(m_starts.size() - 1);
    if (options.m_release && m_starts.size() > 1)
        options.m_release(m_starts[m_starts.size() - 2], input.size());
    for (std::size_t i = 0; i + 1 < m_starts.size(); ++i)
        m_nLargestPart = std::max(m_nLargestPart, m_starts[i + 1] - m_starts[i]);
}

void CSplitConversion::WorkSafely() {
    try {
        Work();
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_failure) m_failure = std::current_exception();
        m_bEnded = true;
        m_changed.notify_all();
    }
}

void CSplitConversion::Work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // At most one part more than there are threads is converted but not yet joined:
        // memory stays bounded.
        m_changed.wait(lock, [this] {
            return m_bEnded || m_nNext <= m_nJoined + m_options.m_nThreads;
        });
        if (m_bEnded || m_nNext == m_parts.size()) return;
        std::size_t index = m_nNext++;
        std::unique_ptr<CPart> part;
        if (m_spare.empty()) {
            part = std::make_unique<CPart>();
        } else {
            part = std::move(m_spare.back());
            m_spare.pop_back();
            part->Clear();
        }
        lock.unlock();
        try {
            std::string_view bytes =
                m_input.substr(m_starts[index], m_starts[index + 1] - m_starts[index]);
            ConvertPart(bytes, m_strName, *part);
        } catch (...) {
            part->m_failure = std::current_exception();
        }
        lock.lock();
        m_parts[index] = std::move(part);
        JoinReady(lock);
    }
}

void CSplitConversion::JoinReady(std::unique_lock<std::mutex>& lock) {
    if (m_bJoining) return;
    m_bJoining = true;
    while (!m_bEnded && m_nJoined < m_parts.size() && m_parts[m_nJoined]) {
        std::unique_ptr<CPart> part = std::move(m_parts[m_nJoined]);
        lock.unlock();
        std::exception_ptr failure;
        try {
            Join(*part);
            if (m_options.m_joined) m_options.m_joined(m_starts[m_nJoined + 1]);
        } catch (...) {
            failure = std::current_exception();
        }
        if (m_options.m_release) m_options.m_release(m_starts[m_nJoined], m_starts[m_nJoined + 1]);
        lock.lock();
        ++m_nJoined;
        if (failure) m_failure = failure;
        if (failure || m_stop.m_bStopped) m_bEnded = true;
        m_spare.push_back(std::move(part));
        m_changed.notify_all();
    }
    m_bJoining = false;
}

void CSplitConversion::Join(CPart& part) {
    if (part.m_failure) std::rethrow_exception(part.m_failure);
    std::uint64_t lineOffset = m_nLines;

    // The table texts take their identifiers in order, each record's before the record is
    // written; a text that finds its table full fails the conversion where it would have.
    std::array<std::uint16_t, kTableCount> ids = m_record.tableIds;
    const std::vector<CTableText>& texts = part.m_texts;
    constexpr std::size_t kAhead = 8;  // look-ups whose memory is fetched ahead
    for (std::size_t k = 0; k < kAhead && k < texts.size(); ++k)
        m_tables[texts[k].m_nTable].PrefetchSlot(texts[k].m_nHash);
    std::size_t next = 0;
    auto TakeIds = [&](std::uint32_t count) {
        for (std::size_t end = next + count; next < end; ++next) {
            if (next + kAhead < texts.size()) {
                const CTableText& ahead = texts[next + kAhead];
                m_tables[ahead.m_nTable].PrefetchSlot(ahead.m_nHash);
            }
            const CTableText& text = texts[next];
            const char* base = text.m_bKept ? part.m_strKept.data() : part.m_bytes.data();
            std::uint16_t id = m_tables[text.m_nTable].Intern(
                std::string_view(base + text.m_nWhere, text.m_nLength), text.m_nHash);
            if (id == 0) throw TableFullFailure(m_strName, lineOffset + text.m_nLine, text.m_nTable);
            ids[text.m_nTable] = id;
        }
    };

    std::size_t record = 0;
    // The records that keep fields from the record before the part take them now.
    for (CPendingRecord& waiting : part.m_pending) {
        TakeIds(part.m_textCounts[record++]);
        CRecord& pending = waiting.m_record;
        unsigned set = waiting.m_nSet;
        if ((set & kTextSet) == 0) pending.text = m_record.text;
        if ((set & kBValueSet) == 0) pending.bValue = m_record.bValue;
        if ((set & kWeightSet) == 0) pending.weight = m_record.weight;
        if ((set & kGridSet) == 0) {
            pending.easting = m_record.easting;
            pending.northing = m_record.northing;
        }
        pending.tableIds = ids;
        pending.Write(m_records);
        m_record = std::move(pending);
    }
    for (std::size_t at : part.m_idOffsets) {
        TakeIds(part.m_textCounts[record++]);
        for (std::size_t t = 0; t < kTableCount; ++t)
            PutId(part.m_strRecords, at + 2 * t, ids[t]);
    }
    m_records.Hand(part.m_strRecords);
    if (!part.m_idOffsets.empty()) {
        m_record = std::move(part.m_last);
        m_record.tableIds = ids;
    }

    if (part.m_notes.MoreUses() == 0) {
        for (const CUnknownTag& unknown : part.m_notes.Tags())
            m_notes.Note(unknown.m_strTag, unknown.m_bCut, lineOffset + unknown.m_nLine,
                         unknown.m_nUses);
    } else {
        // The part met more distinct tags than it keeps: which of its uses are counted rather
        // than listed depends on the tags listed before it, so they are noted again in order.
        NoteUnknownTags(part.m_bytes, m_strName, lineOffset, m_notes);
    }
    m_nRecords += part.m_nRecords;
    if (part.m_stop.m_bStopped) {
        m_stop = part.m_stop;
        m_stop.m_nLine += lineOffset;
    }
    m_nLines += part.m_nLines;
}

CConvertSummary CSplitConversion::Run(std::vector<CWarning>& warnings) {
    std::vector<std::thread> helpers;
    helpers.reserve(m_options.m_nThreads);
    for (unsigned i = 1; i < m_options.m_nThreads; ++i) {
        std::thread helper;
        // No more threads to be had: the work is shared by fewer, at least this one.
        if (!TryStartThread(helper, &CSplitConversion::WorkSafely, this)) break;
        helpers.push_back(std::move(helper));
    }
    WorkSafely();
    for (std::thread& helper : helpers)
        helper.join();
    if (m_failure) std::rethrow_exception(m_failure);

    AddConversionWarnings(m_strName, m_stop, m_nRecords, m_notes, warnings);
    return Summarize(m_nRecords, m_tables, m_stop);
}

}  // namespace

std::optional<CConvertSummary> ConvertInParts(std::string_view input, const std::string& name,
                                              CByteSink& records, CValueTables& tables,
                                              std::vector<CWarning>& warnings,
                                              const CSplitOptions& options) {
    CSplitConversion conversion(input, name, records, tables, options);
    if (!conversion.PartsFit()) return std::nullopt;
    return conversion.Run(warnings);
}

}  // namespace halvic
