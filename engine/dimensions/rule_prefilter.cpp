#include "engine/dimensions/rule_prefilter.h"

#include <hs/hs.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace hitsieve {

namespace {

// The scan scratch space of the calling thread, grown on demand to suit every database the thread
// scans with, and freed when the thread ends. Sizing it checks the whole database, which costs
// more than a scan, so it is done once per database and thread; databases are told apart by a
// serial number, as a freed database's address may be reused.
class ThreadScratch {
 public:
  ~ThreadScratch() {
    if (scratch_ != nullptr) hs_free_scratch(scratch_);
  }
  hs_scratch_t* For(const hs_database_t* database, std::uint64_t serial) {
    if (std::find(sized_for_.begin(), sized_for_.end(), serial) != sized_for_.end()) {
      return scratch_;
    }
    if (hs_alloc_scratch(database, &scratch_) != HS_SUCCESS) return nullptr;
    sized_for_.push_back(serial);  // growing never shrinks it below an earlier database's needs
    return scratch_;
  }

 private:
  hs_scratch_t* scratch_ = nullptr;
  std::vector<std::uint64_t> sized_for_;
};

std::atomic<std::uint64_t> next_serial{1};

thread_local ThreadScratch thread_scratch;

int OnMatch(unsigned int id, unsigned long long /*from*/, unsigned long long /*to*/,
            unsigned int /*flags*/, void* context) {
  static_cast<std::vector<std::uint32_t>*>(context)->push_back(id);
  return 0;  // go on: every candidate is wanted
}

}  // namespace

struct RulePrefilter::Literals {
  std::vector<const char*> texts;
  std::vector<std::size_t> lengths;
  std::vector<unsigned int> flags;
  std::vector<unsigned int> ids;  // the literal's set
};

RulePrefilter::Literals RulePrefilter::Layout(const std::vector<Pattern>& patterns) {
  Literals literals;
  sets_needed_.assign(count_, 0);
  for (std::uint32_t i = 0; i < count_; ++i) {
    const Pattern& pattern = patterns[i];
    if (pattern.literals[0] == nullptr || pattern.literals[0][0] == nullptr) {
      always_.push_back(i);
      continue;
    }
    for (const char* const* set : pattern.literals) {
      if (set == nullptr || set[0] == nullptr) continue;
      const auto id = static_cast<unsigned int>(set_pattern_.size());
      set_pattern_.push_back(i);
      ++sets_needed_[i];
      for (const char* const* literal = set; *literal != nullptr; ++literal) {
        literals.texts.push_back(*literal);
        literals.lengths.push_back(std::strlen(*literal));
        // One report per set is enough: its first occurrence counts.
        literals.flags.push_back(HS_FLAG_SINGLEMATCH | (pattern.caseless ? HS_FLAG_CASELESS : 0));
        literals.ids.push_back(id);
      }
    }
  }
  return literals;
}

void RulePrefilter::Compile(const Literals& literals, const hs_platform_info_t* platform) {
  if (literals.texts.empty()) return;
  hs_compile_error_t* error = nullptr;
  if (hs_compile_lit_multi(literals.texts.data(), literals.flags.data(), literals.ids.data(),
                           literals.lengths.data(), static_cast<unsigned int>(literals.texts.size()),
                           HS_MODE_BLOCK, platform, &database_, &error) != HS_SUCCESS) {
    if (error != nullptr) hs_free_compile_error(error);
    database_ = nullptr;
    AllCandidates(always_);
  }
}

RulePrefilter::RulePrefilter(const std::vector<Pattern>& patterns)
    : serial_(next_serial++), count_(static_cast<std::uint32_t>(patterns.size())) {
  Compile(Layout(patterns), nullptr);
}

RulePrefilter::RulePrefilter(const std::vector<Pattern>& patterns, std::string_view compiled)
    : serial_(next_serial++), count_(static_cast<std::uint32_t>(patterns.size())) {
  const Literals literals = Layout(patterns);
  if (literals.texts.empty()) return;
  if (!compiled.empty() &&
      hs_deserialize_database(compiled.data(), compiled.size(), &database_) == HS_SUCCESS) {
    return;
  }
  database_ = nullptr;
  Compile(literals, nullptr);
}

RulePrefilter::RulePrefilter(const std::vector<Pattern>& patterns, AnyMachine)
    : serial_(next_serial++), count_(static_cast<std::uint32_t>(patterns.size())) {
  hs_platform_info_t generic{};
  generic.tune = HS_TUNE_FAMILY_GENERIC;
  generic.cpu_features = 0;
  Compile(Layout(patterns), &generic);
}

std::string RulePrefilter::Compiled(const std::vector<Pattern>& patterns) {
  const RulePrefilter scanner(patterns, AnyMachine{});
  std::string compiled;
  char* bytes = nullptr;
  std::size_t size = 0;
  if (scanner.database_ != nullptr &&
      hs_serialize_database(scanner.database_, &bytes, &size) == HS_SUCCESS) {
    compiled.assign(bytes, size);
    std::free(bytes);
  }
  return compiled;
}

RulePrefilter::~RulePrefilter() {
  if (database_ != nullptr) hs_free_database(database_);
}

void RulePrefilter::AllCandidates(std::vector<std::uint32_t>& out) const {
  out.resize(count_);
  for (std::uint32_t i = 0; i < count_; ++i) out[i] = i;
}

void RulePrefilter::Candidates(std::string_view text, std::vector<std::uint32_t>& out) const {
  out.clear();
  if (database_ == nullptr) {
    out = always_;
    return;
  }
  hs_scratch_t* scratch = thread_scratch.For(database_, serial_);
  const auto length = static_cast<unsigned int>(
      std::min<std::size_t>(text.size(), std::numeric_limits<unsigned int>::max()));
  const char* data = text.empty() ? "" : text.data();  // the scanner wants a buffer, even empty
  if (scratch == nullptr ||
      hs_scan(database_, data, length, 0, scratch, OnMatch, &out) != HS_SUCCESS) {
    return AllCandidates(out);
  }
  // `out` holds the sets found (a set may be reported more than once). Sets are numbered in the
  // order of their patterns, so mapped to patterns they stay sorted; a pattern is a candidate
  // when all of its sets were found.
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  for (std::uint32_t& id : out) id = set_pattern_[id];
  std::size_t kept = 0;
  for (std::size_t i = 0; i < out.size();) {
    std::size_t same = i;
    while (same < out.size() && out[same] == out[i]) ++same;
    if (same - i == sets_needed_[out[i]]) out[kept++] = out[i];
    i = same;
  }
  out.resize(kept);
  out.insert(out.end(), always_.begin(), always_.end());
  std::sort(out.begin(), out.end());
}

}  // namespace hitsieve
