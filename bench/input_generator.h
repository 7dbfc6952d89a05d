// Realistic tagged text for benchmarks: records of a few hundred bytes with line breaks, hyphenated
// line ends, grid references, weights and table texts that repeat as they do in real collections.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace halvic::bench {

// The same seed gives the same bytes on every machine: the generator uses its own random numbers,
// not the standard library's distributions.
class CInputGenerator {
  public:
    explicit CInputGenerator(std::uint64_t seed);

    // Appends one record: "<@>number", then some of its fields, each on its own CR LF line.
    void AppendRecord(std::string& out);

    // The longest content written so far, in bytes.
    std::size_t LargestContent() const { return m_nLargestContent; }

    // How many texts each table's pool holds, by table letter "manics".
    static const std::array<std::size_t, 6> kPoolSizes;

  private:
    std::uint64_t Next();
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    void AppendFreeText(std::string& out);
    void AppendGridRef(std::string& out);
    void AppendWeight(std::string& out);

    std::uint64_t m_nState;
    std::uint64_t m_nRecord = 0;
    std::size_t m_nLargestContent = 0;
    std::array<std::vector<std::string>, 6> m_pools;
};

// At least `bytes` bytes of whole records.
std::string GenerateInput(std::uint64_t seed, std::size_t bytes);

}  // namespace halvic::bench
