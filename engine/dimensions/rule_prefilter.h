// Finds, in one pass over a text, which of many regexes may match it, so that only those few are
// then run by the backtracking engine that gives the captures. Each regex comes with one or two
// sets of literals; any text it matches contains a literal of each set. The texts are scanned for
// all literals at once. Built
// once; const methods may be called from several threads at once (each thread keeps its own scan
// scratch space).
#ifndef HITSIEVE_ENGINE_DIMENSIONS_RULE_PREFILTER_H_
#define HITSIEVE_ENGINE_DIMENSIONS_RULE_PREFILTER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct hs_database;
struct hs_platform_info;

namespace hitsieve {

class RulePrefilter {
 public:
  struct Pattern {
    // Each nullptr-terminated, or nullptr. Without a first set, a candidate for every text.
    const char* const* literals[2];
    bool caseless;  // the literals match ignoring ASCII case
  };

  // Never throws: should the scanner fail to build, every pattern is a candidate for every text.
  explicit RulePrefilter(const std::vector<Pattern>& patterns);
  // The same, loading the scanner from `compiled`, which Compiled() made from these very
  // patterns (at build time: compiling many literals costs a run a noticeable part of a second).
  // Bytes that this library cannot load (another version of it) are ignored and the patterns
  // compiled now.
  RulePrefilter(const std::vector<Pattern>& patterns, std::string_view compiled);
  ~RulePrefilter();
  RulePrefilter(const RulePrefilter&) = delete;
  RulePrefilter& operator=(const RulePrefilter&) = delete;

  // Sets `out` to the indexes (ascending) of the patterns that may match `text`. Never fails:
  // should a scan fail, every pattern is a candidate.
  void Candidates(std::string_view text, std::vector<std::uint32_t>& out) const;

  // Patterns that are candidates for every text (no literals, or no scanner).
  std::size_t UnfilteredCount() const { return always_.size(); }

  // The scanner of `patterns` compiled for any x86-64 processor, as bytes for the constructor;
  // empty when it cannot be compiled.
  static std::string Compiled(const std::vector<Pattern>& patterns);

 private:
  struct Literals;
  struct AnyMachine {};
  // Compiled for any x86-64 processor instead of this one, for Compiled().
  RulePrefilter(const std::vector<Pattern>& patterns, AnyMachine);
  // Numbers the literal sets and notes what each pattern needs; the literals to scan for.
  Literals Layout(const std::vector<Pattern>& patterns);
  // Compiles them for `platform` (null: this machine); failing, every pattern is a candidate.
  void Compile(const Literals& literals, const hs_platform_info* platform);
  void AllCandidates(std::vector<std::uint32_t>& out) const;

  hs_database* database_ = nullptr;  // nullptr: nothing compiled, every pattern is a candidate
  std::vector<std::uint32_t> always_;  // ascending
  std::vector<std::uint32_t> set_pattern_;   // the pattern of each literal set (the scan's ids)
  std::vector<std::uint8_t> sets_needed_;    // per pattern: how many of its sets must be found
  std::uint64_t serial_;  // tells this database apart in the threads' scratch spaces
  std::uint32_t count_ = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_RULE_PREFILTER_H_
