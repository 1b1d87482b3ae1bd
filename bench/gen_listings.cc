// gen_listings: writes a deterministic pair of execution profile listings for the benchmarks and
// property tests of qrvdiff.
//
// Listing 2 is generated function by function; listing 1 is derived from each function as soon as
// it has been written to listing 2: the same structure with shifted line numbers and changed
// counters most of the time, now and then a structural edit, a function or a file section that
// exists in one listing only. Both listings are streamed through large buffers, so memory use does
// not depend on the listing size. The output depends only on the command line.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Random numbers: splitmix64, small and fast, and good enough for test data.

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(((next() >> 32) * n) >> 32); }
  // Uniform in [lo, hi].
  uint32_t range(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
  bool chance(uint32_t perMille) { return below(1000) < perMille; }
  template <typename T, size_t N>
  const T& pick(const T (&table)[N]) {
    return table[below(static_cast<uint32_t>(N))];
  }

 private:
  uint64_t state_;
};

// ---------------------------------------------------------------------------------------------
// Buffered output file.

class Sink {
 public:
  static constexpr size_t kCapacity = size_t{16} << 20;

  bool open(const char* path) {
    file_ = std::fopen(path, "wb");
    buffer_ = std::make_unique<char[]>(kCapacity);
    return file_ != nullptr;
  }
  // Room for n bytes (n at most kCapacity) at the returned position; commit() takes them.
  char* reserve(size_t n) {
    if (length_ + n > kCapacity) flush();
    return buffer_.get() + length_;
  }
  void commit(const char* end) { length_ = static_cast<size_t>(end - buffer_.get()); }
  void put(std::string_view text) {
    while (!text.empty()) {
      size_t n = text.size() < kCapacity ? text.size() : kCapacity;
      char* p = reserve(n);
      std::memcpy(p, text.data(), n);
      length_ += n;
      text.remove_prefix(n);
    }
  }
  uint64_t bytes() const { return flushed_ + length_; }
  void flush() {
    if (length_ != 0 && std::fwrite(buffer_.get(), 1, length_, file_) != length_) failed_ = true;
    flushed_ += length_;
    length_ = 0;
  }
  bool close() {
    flush();
    bool ok = !failed_;
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
    return ok;
  }

 private:
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t length_ = 0;
  uint64_t flushed_ = 0;
  bool failed_ = false;
};

// Writes v so that its last digit lands on *last.
void putRight(char* last, uint64_t v) {
  do {
    *last-- = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
}

// Writes v left-aligned at p and returns the position after it.
char* putDecimal(char* p, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = digits[--n];
  return p;
}

// printf "%3u".
char* putWidth3(char* p, uint64_t v) {
  if (v < 100) *p++ = ' ';
  if (v < 10) *p++ = ' ';
  return putDecimal(p, v);
}

char* putText(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

uint32_t percent(uint64_t covered, uint64_t total) {
  return total == 0 ? 100 : static_cast<uint32_t>(covered * 100 / total);
}

// Source line numbers have six columns; very long files wrap around.
uint64_t displayLine(uint64_t n) {
  return n == 0 ? 1 : (n - 1) % 999999 + 1;
}

const std::string kRuleEquals(77, '=');
const std::string kRuleHyphens(77, '-');

// ---------------------------------------------------------------------------------------------
// Model of one function section.

// The measurement-point shape of a line; it fixes which counter fields are present and how the
// coverage flag follows from them.
enum class Pt : uint8_t {
  kNone,       // no counters, flag blank
  kHits,       // first counter
  kTrueFalse,  // both counters, two points
  kCond1,      // numbered condition row, counter in the first field
  kCond2,      // numbered condition row, counter in the second field
  kMcdc,       // no counters, "+"/"-" pattern in the text, covered when all are "+"
  kConst1,     // const- row, counter in the first field
  kConst2,     // const- row, counter in the second field
};

// Which trailing character a line may gain or lose without a change of structure.
enum class Tail : uint8_t { kFixed, kPlus, kBrace };

struct Line {
  uint64_t c1 = 0;
  uint64_t c2 = 0;
  uint32_t descOffset = 0;  // description (without indentation) in Func::arena
  uint32_t descLength = 0;
  uint32_t rel = 0;  // source line number relative to the FUNCTION line
  uint32_t mcdcMask = 0;
  uint8_t indent = 0;
  uint8_t mcdcPos = 0;  // offset of the "+"/"-" pattern in the description
  uint8_t mcdcCount = 0;
  Pt pt = Pt::kNone;
  Tail tail = Tail::kFixed;
  char suffix = 0;         // trailing "+" or "-" written after the description, 0 for none
  bool statement = false;  // counts in the statement line
  bool editable = false;   // text may be appended without changing the line's kind
  bool loop = false;       // "for "/"while " line whose FALSE counter may come and go
};

struct Func {
  std::string arena;
  std::vector<Line> lines;  // lines[0] is the FUNCTION line
  std::string directive;    // "#line " text from column 30, empty when none
  uint64_t base = 1;        // source line number of the FUNCTION line
  uint32_t statementTotal = 0;
  bool statementNA = false;
  bool unique = true;  // its FUNCTION line text occurs once in its file

  void clear() {
    arena.clear();
    lines.clear();
    directive.clear();
    statementTotal = 0;
    statementNA = false;
    unique = true;
  }
  std::string_view description(const Line& l) const {
    return {arena.data() + l.descOffset, l.descLength};
  }
  std::string_view signature() const { return description(lines[0]).substr(9); }
  uint32_t lastRel() const { return lines.back().rel; }
};

struct Tally {
  uint64_t covered = 0;
  uint64_t points = 0;
  uint64_t statementsCovered = 0;
  uint64_t statements = 0;
  uint64_t naFunctions = 0;
  uint64_t functions = 0;
  uint64_t files = 0;
  uint64_t headers = 0;
  uint64_t sourceLines = 0;

  void add(const Tally& t) {
    covered += t.covered;
    points += t.points;
    statementsCovered += t.statementsCovered;
    statements += t.statements;
    naFunctions += t.naFunctions;
    functions += t.functions;
  }
};

uint64_t counterValue(Rng& r) {
  uint32_t k = r.below(1000);
  if (k < 500) return r.range(1, 20);
  if (k < 850) return r.range(1, 1000);
  if (k < 995) return r.range(1, 1000000);
  return 1 + r.next() % 9999999999ULL;  // up to ten digits, the full field
}

// Gives a line counters for a run in which its function was entered fnHits times.
void fillCounters(Line& l, Rng& r, uint64_t fnHits) {
  auto counter = [&](uint32_t zeroPerMille) -> uint64_t {
    if (fnHits == 0 || r.chance(zeroPerMille)) return 0;
    return counterValue(r);
  };
  l.c1 = 0;
  l.c2 = 0;
  switch (l.pt) {
    case Pt::kNone:
      break;
    case Pt::kHits:
      l.c1 = counter(180);
      break;
    case Pt::kTrueFalse:
      l.c1 = counter(220);
      l.c2 = counter(250);
      break;
    case Pt::kCond1:
    case Pt::kConst1:
      l.c1 = counter(250);
      break;
    case Pt::kCond2:
    case Pt::kConst2:
      l.c2 = counter(250);
      break;
    case Pt::kMcdc: {
      uint32_t all = (1u << l.mcdcCount) - 1;
      if (fnHits == 0) {
        l.mcdcMask = 0;
      } else {
        l.mcdcMask = r.chance(400) ? all : static_cast<uint32_t>(r.next()) & all;
      }
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Texts.

const std::string_view kVars[] = {"x",   "count", "len",   "state", "flags", "n",     "err",
                                  "pos", "idx",   "depth", "size",  "mode",  "ready", "key"};
const std::string_view kOps[] = {" > ", " < ", " == ", " != ", " >= ", " <= "};
const std::string_view kValues[] = {"0", "1", "limit", "kMax", "nullptr", "end", "-1", "max_depth"};
const std::string_view kClasses[] = {"Parser", "Lexer",   "Socket", "Buffer",  "Session",
                                     "Cache",  "Encoder", "Widget", "Matrix",  "Scheduler",
                                     "Logger", "Router",  "Codec",  "Archive", "Registry"};
const std::string_view kVerbs[] = {"read",  "write", "parse", "update", "reset",  "find",
                                   "merge", "check", "load",  "store",  "render", "flush"};
const std::string_view kNouns[] = {"header", "block", "entry", "state", "token", "frame",
                                   "record", "value", "node",  "chunk", "range", "item"};
const std::string_view kArgs[] = {"()",
                                  "(void)",
                                  "(int n)",
                                  "(const char *name, size_t len)",
                                  "(std::string_view text)",
                                  "(Node *node, int depth)",
                                  "(const std::vector<int> &values)",
                                  "(double x, double y) const",
                                  "(uint32_t flags, void *context)",
                                  "(Iterator first, Iterator last)"};
const std::string_view kDirs[] = {"core", "net", "ui", "db", "util", "io", "parser", "render"};
const std::string_view kIncludes[] = {"#include <vector>",        "#include <string>",
                                      "#include <cstdio>",        "#include <cstring>",
                                      "#include <memory>",        "#include \"config.h\"",
                                      "#include \"util/log.h\"",  "#include \"core/types.h\"",
                                      "#include <unordered_map>", "#include <algorithm>"};
const std::string_view kModes[] = {"multiple condition", "decision", "condition", "MC/DC"};
const std::string_view kReturns[] = {"return",          "return 0;",  "return result;",
                                     "return nullptr;", "return -1;", "return x + y;",
                                     "return true;"};
const std::string_view kLoops[] = {"(int i = 0; i < n; ++i)",
                                   "(auto it = v.begin(); it != v.end(); ++it)", "(;;)",
                                   "(size_t k = len; k > 0; --k)"};
const std::string_view kConsts[] = {"const-if (sizeof(long) == 8)", "const-while (1)",
                                    "const-if (kDebug)", "const-do-while (0)",
                                    "const-expr: (kTraceLevel > 2)"};
const std::string_view kLabels[] = {"fail", "cleanup", "retry", "out", "done", "again"};
const std::string_view kSharedSignature = "Visitor::visit(Node *node)";

// ---------------------------------------------------------------------------------------------
// Function body generation.

class BodyBuilder {
 public:
  BodyBuilder(Func& f, Rng& r, uint64_t fnHits) : f_(f), r_(r), fnHits_(fnHits) {}

  void build(uint32_t target) {
    while (f_.lines.size() + 2 * stack_.size() + 1 < target) step();
    while (!stack_.empty()) close(false);
  }

  // A plain extra statement, used by the structural edits as well.
  static Line& addReturn(Func& f, Rng& r, size_t at, uint64_t fnHits) {
    Line l;
    l.pt = Pt::kHits;
    l.indent = at > 1 ? f.lines[at - 1].indent : 2;
    if (l.indent == 0) l.indent = 2;
    l.rel = f.lines[at - 1].rel;
    l.descOffset = static_cast<uint32_t>(f.arena.size());
    f.arena += "return";
    l.descLength = 6;
    l.statement = true;
    fillCounters(l, r, fnHits);
    return *f.lines.insert(f.lines.begin() + static_cast<std::ptrdiff_t>(at), l);
  }

 private:
  enum class Open : uint8_t { kPlain, kIf, kSwitch, kDo, kTry, kSehTry };

  uint8_t indent() const {
    size_t depth = stack_.size() < 8 ? stack_.size() : 8;
    return static_cast<uint8_t>(2 * depth + 2);
  }

  // Starts a line; a continuation row stays on the source line of the line before it.
  Line& begin(Pt pt, bool continuation = false) {
    Line& l = f_.lines.emplace_back();
    l.pt = pt;
    l.indent = indent();
    l.descOffset = static_cast<uint32_t>(f_.arena.size());
    if (!continuation) rel_ += r_.below(4) == 0 ? 1 + r_.below(4) : 1;
    l.rel = rel_;
    return l;
  }
  void text(std::string_view s) { f_.arena += s; }
  void number(uint64_t v) {
    char digits[24];
    f_.arena.append(digits, static_cast<size_t>(putDecimal(digits, v) - digits));
  }
  void finish(Line& l, bool statement, bool editable) {
    l.descLength = static_cast<uint32_t>(f_.arena.size() - l.descOffset);
    l.statement = statement;
    l.editable = editable;
    fillCounters(l, r_, fnHits_);
  }

  void condition() {
    text(r_.pick(kVars));
    text(r_.pick(kOps));
    text(r_.pick(kValues));
  }

  void step() {
    uint32_t x = r_.below(1000);
    if (!stack_.empty() && x < 200) {
      close(true);
    } else if (stack_.size() < 6 && x < 470) {
      open();
    } else {
      simple();
    }
  }

  void openIf(std::string_view keyword) {
    uint32_t n = r_.chance(350) ? r_.range(2, 5) : 1;
    uint32_t vars[5];
    uint32_t ops[5];
    uint32_t values[5];
    for (uint32_t i = 0; i < n; ++i) {
      vars[i] = r_.below(std::size(kVars));
      ops[i] = r_.below(std::size(kOps));
      values[i] = r_.below(std::size(kValues));
    }
    auto cond = [&](uint32_t i) {
      text(kVars[vars[i]]);
      text(kOps[ops[i]]);
      text(kValues[values[i]]);
    };
    Line& l = begin(Pt::kTrueFalse);
    text(keyword);
    text("(");
    for (uint32_t i = 0; i < n; ++i) {
      if (i > 0) text(r_.chance(700) ? " && " : " || ");
      cond(i);
    }
    text(")");
    finish(l, true, true);
    if (n > 1) {
      for (uint32_t i = 0; i < n; ++i) {
        Line& row = begin(r_.chance(500) ? Pt::kCond1 : Pt::kCond2, true);
        number(i + 1);
        text("  ");
        cond(i);
        finish(row, false, true);
      }
      if (r_.chance(450)) {
        Line& row = begin(Pt::kMcdc, true);
        text("MC/DC  ");
        row.mcdcPos = 7;
        row.mcdcCount = static_cast<uint8_t>(n);
        f_.arena.append(n, '-');
        text("  (");
        number(n);
        text(" conditions)");
        finish(row, false, false);
      }
    }
    stack_.push_back(Open::kIf);
  }

  void open() {
    uint32_t k = r_.below(100);
    if (k < 36) {
      openIf("if ");
      return;
    }
    if (k < 58) {
      Line& l = begin(r_.chance(600) ? Pt::kTrueFalse : Pt::kHits);
      if (k < 48) {
        text("for ");
        text(r_.pick(kLoops));
      } else {
        text("while (");
        condition();
        text(")");
      }
      l.loop = true;
      finish(l, true, true);
      stack_.push_back(Open::kPlain);
    } else if (k < 64) {
      Line& l = begin(Pt::kNone);
      text("do");
      finish(l, false, false);
      stack_.push_back(Open::kDo);
    } else if (k < 72) {
      Line& l = begin(Pt::kNone);
      text("switch (");
      text(r_.pick(kVars));
      text(")");
      finish(l, false, true);
      stack_.push_back(Open::kSwitch);
    } else if (k < 79) {
      Line& l = begin(r_.chance(500) ? Pt::kHits : Pt::kNone);
      text("try");
      finish(l, false, false);
      stack_.push_back(Open::kTry);
    } else if (k < 83) {
      Line& l = begin(Pt::kHits);
      text("lambda-[]()");
      finish(l, true, false);
      stack_.push_back(Open::kPlain);
    } else if (k < 89) {
      Line& l = begin(Pt::kHits);
      text("foreach (auto &item : ");
      text(r_.pick(kNouns));
      text("s)");
      finish(l, true, true);
      stack_.push_back(Open::kPlain);
    } else if (k < 97) {
      Line& l = begin(r_.chance(700) ? Pt::kConst1 : Pt::kConst2);
      text(r_.pick(kConsts));
      finish(l, true, true);
      stack_.push_back(Open::kPlain);
    } else {
      Line& l = begin(r_.chance(500) ? Pt::kHits : Pt::kNone);
      text("__try");
      finish(l, false, false);
      stack_.push_back(Open::kSehTry);
    }
  }

  void brace() {
    uint32_t k = r_.below(100);
    Line& l = begin(k < 45 || (k >= 75 && k < 88) ? Pt::kHits : Pt::kNone);
    text("}");
    l.tail = Tail::kBrace;
    if (k >= 75) l.suffix = k < 88 ? '+' : '-';
    finish(l, false, false);
  }

  void close(bool chain) {
    Open o = stack_.back();
    if (o == Open::kSwitch) {
      Line& l = begin(Pt::kHits);
      if (r_.chance(550)) {
        text("default:");
        l.tail = Tail::kPlus;
        if (r_.chance(150)) l.suffix = '+';
      } else {
        text("missing-default:");
      }
      finish(l, false, false);
    }
    stack_.pop_back();
    switch (o) {
      case Open::kPlain:
      case Open::kSwitch:
        brace();
        break;
      case Open::kIf:
        brace();
        if (chain) {
          uint32_t k = r_.below(100);
          if (k < 25) {
            openIf("else if ");
          } else if (k < 45) {
            Line& l = begin(Pt::kNone);
            text("else");
            finish(l, false, false);
            stack_.push_back(Open::kPlain);
          }
        }
        break;
      case Open::kDo: {
        Line& l = begin(Pt::kTrueFalse);
        text("do-while (");
        condition();
        text(")");
        finish(l, true, true);
        break;
      }
      case Open::kTry: {
        brace();
        Line& l = begin(Pt::kHits);
        text(r_.chance(500) ? "catch (const std::exception &e)" : "catch (...)");
        finish(l, true, true);
        stack_.push_back(Open::kPlain);
        break;
      }
      case Open::kSehTry: {
        brace();
        Line& l = begin(Pt::kHits);
        text(r_.chance(500) ? "__except" : "__finally");
        finish(l, true, false);
        stack_.push_back(Open::kPlain);
        break;
      }
    }
  }

  void simple() {
    if (!stack_.empty() && stack_.back() == Open::kSwitch && r_.chance(450)) {
      Line& l = begin(Pt::kHits);
      text("case ");
      number(r_.below(64));
      text(":");
      l.tail = Tail::kPlus;
      if (r_.chance(100)) l.suffix = '+';
      finish(l, false, true);
      return;
    }
    uint32_t k = r_.below(100);
    if (k < 16) {
      Line& l = begin(Pt::kHits);
      std::string_view s = r_.pick(kReturns);
      text(s);
      finish(l, true, s.size() > 6);
    } else if (k < 23) {
      Line& l = begin(Pt::kHits);
      text("break");
      finish(l, true, false);
    } else if (k < 27) {
      Line& l = begin(Pt::kHits);
      text("continue");
      finish(l, true, false);
    } else if (k < 30) {
      Line& l = begin(Pt::kHits);
      text("goto ");
      text(r_.pick(kLabels));
      text(";");
      finish(l, true, true);
    } else if (k < 34) {
      Line& l = begin(Pt::kHits);
      bool bare = r_.chance(400);
      text(bare ? "throw" : "throw std::runtime_error(\"bad input\");");
      finish(l, true, !bare);
    } else if (k < 38) {
      Line& l = begin(Pt::kHits);
      text("User counter: ");
      text(r_.pick(kNouns));
      text("_hits");
      finish(l, true, true);
    } else if (k < 49) {
      Line& l = begin(Pt::kTrueFalse);
      text("COND (");
      condition();
      text(r_.chance(500) ? " && " : " || ");
      condition();
      text(")");
      finish(l, true, true);
    } else if (k < 56) {
      Line& l = begin(Pt::kTrueFalse);
      text("ternary-?: (");
      condition();
      text(" ? a : b)");
      finish(l, true, true);
    } else if (k < 62) {
      Line& l = begin(Pt::kTrueFalse);
      text("expr-andor: (");
      condition();
      text(" && ");
      condition();
      text(")");
      finish(l, true, true);
    } else if (k < 67) {
      Line& l = begin(Pt::kNone);
      text(r_.pick(kLabels));
      text("_");
      number(r_.below(10));
      text(":");
      l.tail = Tail::kPlus;
      if (r_.chance(150)) l.suffix = '+';
      finish(l, false, false);
    } else if (k < 70) {
      Line& l = begin(Pt::kNone);
      text("User annotation: reviewed");
      finish(l, false, true);
    } else if (k < 71) {
      Line& l = begin(Pt::kNone);
      text("#line ");
      number(f_.base + rel_);
      finish(l, false, true);
    } else if (k < 74) {
      Line& l = begin(Pt::kHits);
      text("lambda-()->");
      finish(l, true, false);
    } else if (k < 75) {
      Line& l = begin(Pt::kHits);
      text("__leave");
      finish(l, true, false);
    } else {
      Line& l = begin(Pt::kHits);
      text("return ");
      text(r_.pick(kNouns));
      text(";");
      finish(l, true, true);
    }
  }

  Func& f_;
  Rng& r_;
  uint64_t fnHits_;
  uint32_t rel_ = 0;
  std::vector<Open> stack_;
};

// ---------------------------------------------------------------------------------------------
// Writing function sections.

char coverageFlag(const Line& l) {
  switch (l.pt) {
    case Pt::kNone:
      return ' ';
    case Pt::kHits:
    case Pt::kCond1:
    case Pt::kConst1:
      return l.c1 == 0 ? '-' : ' ';
    case Pt::kCond2:
    case Pt::kConst2:
      return l.c2 == 0 ? '-' : ' ';
    case Pt::kTrueFalse:
      return l.c1 == 0 || l.c2 == 0 ? '-' : ' ';
    case Pt::kMcdc:
      return l.mcdcMask == (1u << l.mcdcCount) - 1 ? ' ' : '-';
  }
  return ' ';
}

bool hasFirstCounter(Pt pt) {
  return pt == Pt::kHits || pt == Pt::kTrueFalse || pt == Pt::kCond1 || pt == Pt::kConst1;
}
bool hasSecondCounter(Pt pt) {
  return pt == Pt::kTrueFalse || pt == Pt::kCond2 || pt == Pt::kConst2;
}

void writeFunction(Sink& out, const Func& f, Tally& tally) {
  if (!f.directive.empty()) {
    char* p = out.reserve(32 + f.directive.size());
    std::memset(p, ' ', 30);
    p = putText(p + 30, f.directive);
    *p++ = '\n';
    out.commit(p);
  }
  uint64_t covered = 0;
  uint64_t points = 0;
  uint64_t statementsCovered = 0;
  for (const Line& l : f.lines) {
    char* p = out.reserve(40 + l.indent + l.descLength);
    std::memset(p, ' ', 30);
    if (hasFirstCounter(l.pt)) putRight(p + 9, l.c1);
    if (hasSecondCounter(l.pt)) putRight(p + 20, l.c2);
    char flag = coverageFlag(l);
    p[22] = flag;
    putRight(p + 29, displayLine(f.base + l.rel));
    char* q = p + 30;
    std::memset(q, ' ', l.indent);
    q += l.indent;
    q = putText(q, f.description(l));
    if (l.pt == Pt::kMcdc) {
      char* pattern = q - l.descLength + l.mcdcPos;
      for (uint32_t i = 0; i < l.mcdcCount; ++i) pattern[i] = (l.mcdcMask >> i) & 1 ? '+' : '-';
    }
    if (l.suffix != 0) *q++ = l.suffix;
    *q++ = '\n';
    out.commit(q);

    if (l.pt == Pt::kTrueFalse) {
      points += 2;
      covered += (l.c1 != 0) + (l.c2 != 0);
    } else if (l.pt != Pt::kNone) {
      points += 1;
      covered += flag == ' ';
    }
    if (l.statement) statementsCovered += (l.c1 | l.c2) != 0;
  }
  std::string_view sig = f.signature();
  char* p = out.reserve(160 + sig.size() + kRuleHyphens.size());
  *p++ = '\n';
  p = putText(p, "***TER ");
  p = putWidth3(p, percent(covered, points));
  p = putText(p, " % (");
  p = putWidth3(p, covered);
  *p++ = '/';
  p = putWidth3(p, points);
  p = putText(p, ") of FUNCTION ");
  p = putText(p, sig);
  *p++ = '\n';
  if (f.statementNA) {
    p = putText(p, "       N.A. statement\n");
    ++tally.naFunctions;
  } else {
    if (statementsCovered > f.statementTotal) statementsCovered = f.statementTotal;
    p = putText(p, "       ");
    p = putWidth3(p, percent(statementsCovered, f.statementTotal));
    p = putText(p, " % (");
    p = putWidth3(p, statementsCovered);
    *p++ = '/';
    p = putWidth3(p, f.statementTotal);
    p = putText(p, ") statement\n");
    tally.statementsCovered += statementsCovered;
    tally.statements += f.statementTotal;
  }
  p = putText(p, kRuleHyphens);
  p = putText(p, "\n\n");
  out.commit(p);
  tally.covered += covered;
  tally.points += points;
  ++tally.functions;
}

// ---------------------------------------------------------------------------------------------
// The generator.

enum class Shape { kTypical, kSameFunctionLine, kManyFiles, kDisjointFiles, kChurn };

// Where a file section appears.
enum class Presence { kBoth, kSecondOnly, kFirstOnly };

constexpr uint64_t kBytesPerLine = 56;       // estimate for budgeting
constexpr uint64_t kTailReserve = 900;       // file closing block and SUMMARY block
constexpr uint64_t kMinFunctionBytes = 600;  // a five-line function with its trailer

class Generator {
 public:
  Generator(Shape shape, uint64_t seed, uint64_t target, Sink& first, Sink& second)
      : shape_(shape),
        target_(target),
        r2_(seed * 0x2545f4914f6cdd1dULL + 0x1234567),
        r1_(seed ^ 0x5851f42d4c957f2dULL),
        out1_(first),
        out2_(second) {}

  void run() {
    writeHeader(out2_, "Tue Mar  5 14:07:31 2024");
    writeHeader(out1_, "Mon Feb 26 09:15:02 2024");
    for (uint64_t fileNo = 0;; ++fileNo) {
      if (out2_.bytes() + kTailReserve + 400 + kMinFunctionBytes >= target_) break;
      if (shape_ == Shape::kSameFunctionLine && fileNo > 0) break;
      bool extraFirst = false;
      Presence presence = Presence::kBoth;
      bool renamed = false;
      switch (shape_) {
        case Shape::kTypical:
        case Shape::kChurn:
          extraFirst = fileNo == 1 || (fileNo > 3 && r2_.chance(40));
          if (fileNo == 2 || (fileNo > 3 && r2_.chance(40))) presence = Presence::kSecondOnly;
          break;
        case Shape::kManyFiles:
          extraFirst = r2_.chance(40);
          if (r2_.chance(40)) presence = Presence::kSecondOnly;
          break;
        case Shape::kDisjointFiles:
          extraFirst = r2_.chance(30);
          if (r2_.chance(40)) presence = Presence::kSecondOnly;
          renamed = fileNo % 10 != 0 && !r2_.chance(50);
          break;
        case Shape::kSameFunctionLine:
          break;
      }
      if (extraFirst) writeFile(Presence::kFirstOnly, ++extraFileNo_ + 1000000, false);
      writeFile(presence, fileNo, renamed);
    }
    writeSummary(out2_, total2_);
    writeSummary(out1_, total1_);
  }

 private:
  static void writeHeader(Sink& out, std::string_view producedAt) {
    std::string s;
    s.append(77, '*').append("\n");
    s.append("*           QRV++, Test Coverage Analyzer for C/C++, Version 9.1            *\n");
    s.append("*").append(75, ' ').append("*\n");
    s.append("*                         EXECUTION PROFILE LISTING").append(25, ' ').append("*\n");
    s.append("*").append(75, ' ').append("*\n");
    s.append(77, '*').append("\n\n");
    s.append("Listing produced at   : ").append(producedAt);
    s.append("\nCoverage view         : As instrumented\n\n\n");
    out.put(s);
  }

  static void writeSummary(Sink& out, const Tally& t) {
    char buffer[1024];
    int n = std::snprintf(
        buffer, sizeof buffer,
        "SUMMARY\n=======\n\nSource files       : %llu\nHeaders extracted  : %llu\n"
        "Functions          : %llu\nSource lines       : %llu\n"
        "TER                : %u %% (%llu/%llu) multiple condition\n"
        "TER                : %u %% (%llu/%llu) statement\n",
        static_cast<unsigned long long>(t.files), static_cast<unsigned long long>(t.headers),
        static_cast<unsigned long long>(t.functions),
        static_cast<unsigned long long>(t.sourceLines), percent(t.covered, t.points),
        static_cast<unsigned long long>(t.covered), static_cast<unsigned long long>(t.points),
        percent(t.statementsCovered, t.statements),
        static_cast<unsigned long long>(t.statementsCovered),
        static_cast<unsigned long long>(t.statements));
    out.put(std::string_view(buffer, static_cast<size_t>(n)));
  }

  static void writeFileHeader(Sink& out, std::string_view path, std::string_view mode,
                              const std::vector<std::string_view>& includes) {
    std::string s = "MONITORED SOURCE FILE : ";
    s += path;
    s += "\nINSTRUMENTATION MODE  : ";
    s += mode;
    s += "\n\n HITS/TRUE      FALSE    LINE DESCRIPTION\n";
    s += kRuleEquals;
    s += "\n\n";
    for (std::string_view include : includes) {
      s += include;
      s += '\n';
    }
    out.put(s);
  }

  static void writeFileClosing(Sink& out, std::string_view path, const Tally& t) {
    char* p = out.reserve(300 + path.size());
    p = putText(p, "\n***TER ");
    p = putWidth3(p, percent(t.covered, t.points));
    p = putText(p, " % (");
    p = putWidth3(p, t.covered);
    *p++ = '/';
    p = putWidth3(p, t.points);
    p = putText(p, ") of FILE ");
    p = putText(p, path);
    p = putText(p, "\n       ");
    p = putWidth3(p, percent(t.statementsCovered, t.statements));
    p = putText(p, " % (");
    p = putWidth3(p, t.statementsCovered);
    *p++ = '/';
    p = putWidth3(p, t.statements);
    p = putText(p, ") statement");
    if (t.naFunctions > 0) {
      p = putText(p, " (N.A. for ");
      p = putDecimal(p, t.naFunctions);
      p = putText(p, " functions)");
    }
    *p++ = '\n';
    p = putText(p, kRuleHyphens);
    p = putText(p, "\n\n\n\n");
    out.commit(p);
  }

  std::string makePath(Rng& r, uint64_t fileNo, bool header) {
    std::string path = "src/";
    path += r.pick(kDirs);
    path += '/';
    path += r.pick(kNouns);
    path += '_';
    char digits[24];
    path.append(digits, static_cast<size_t>(putDecimal(digits, fileNo) - digits));
    path += header ? ".h" : ".cc";
    return path;
  }

  uint32_t plannedFunctions(Rng& r) {
    switch (shape_) {
      case Shape::kTypical:
      case Shape::kChurn:
        return r.chance(10) ? 0 : r.range(50, 500);
      case Shape::kManyFiles:
        return r.range(1, 3);
      case Shape::kDisjointFiles:
        return r.range(5, 60);
      case Shape::kSameFunctionLine:
        return UINT32_MAX;
    }
    return 1;
  }

  uint32_t plannedLines(Rng& r) {
    if (shape_ == Shape::kManyFiles) return r.range(5, 40);
    uint64_t a = r.below(1000);
    return static_cast<uint32_t>(5 + a * a * 196 / 1000000);
  }

  void writeFile(Presence presence, uint64_t fileNo, bool renamed) {
    // A file of listing 1 only draws from listing 1's generator, so that listing 2 does not
    // depend on it.
    Rng& r = presence == Presence::kFirstOnly ? r1_ : r2_;
    bool header = r.chance(100);
    std::string path2 = makePath(r, fileNo, header);
    std::string path1;
    if (renamed && presence != Presence::kFirstOnly) path1 = "legacy/";
    path1 += path2;
    std::string_view mode = r.pick(kModes);
    includes_.clear();
    uint32_t includeCount = r.below(7);
    for (uint32_t i = 0; i < includeCount; ++i) includes_.push_back(r.pick(kIncludes));
    uint32_t functions = plannedFunctions(r);
    previousSignature_.clear();
    if (presence == Presence::kFirstOnly && functions > 20) functions = r.range(5, 20);

    bool in2 = presence != Presence::kFirstOnly;
    bool in1 = presence != Presence::kSecondOnly;
    Tally file2;
    Tally file1;
    if (in2) writeFileHeader(out2_, path2, mode, includes_);
    if (in1) writeFileHeader(out1_, path1, mode, includes_);

    uint64_t line = includeCount + 2 + r.below(20);
    int64_t shift = 0;  // listing 1's line numbers relative to listing 2's
    uint64_t lastLine1 = line;
    for (uint32_t i = 0; i < functions; ++i) {
      uint32_t lines = plannedLines(r);
      if (in2) {
        uint64_t used = out2_.bytes();
        if (used + kTailReserve + kMinFunctionBytes >= target_) break;
        uint64_t room = (target_ - used - kTailReserve) / kBytesPerLine;
        if (room < lines) lines = static_cast<uint32_t>(room < 5 ? 5 : room);
      }
      makeFunction(f2_, r, fileNo, i, lines, line, presence == Presence::kFirstOnly);
      line = f2_.base + f2_.lastRel() + 2 + r.below(12);
      if (in2) writeFunction(out2_, f2_, file2);
      if (!in1) continue;
      if (presence == Presence::kFirstOnly) {
        writeFunction(out1_, f2_, file1);
        lastLine1 = line;
        continue;
      }
      // Listing 1's counterpart.
      if (r1_.chance(300)) shift += static_cast<int64_t>(r1_.range(0, 24)) - 8;
      if (r1_.chance(25)) {
        // A function that listing 1 did not have yet.
        makeFunction(f1_, r1_, fileNo, ++extraFunctionNo_, r1_.range(5, 40), f2_.base, true);
        writeFirst(file1);
      }
      if (f2_.unique && r1_.chance(30)) continue;  // new in listing 2
      derive();
      int64_t base = static_cast<int64_t>(f2_.base) + shift;
      f1_.base = base < 1 ? 1 : static_cast<uint64_t>(base);
      lastLine1 = f1_.base + f1_.lastRel() + 1;
      writeFirst(file1);
    }
    if (pendingValid_) {
      writeFunction(out1_, pending_, file1);
      pendingValid_ = false;
    }
    if (in2) {
      writeFileClosing(out2_, path2, file2);
      total2_.add(file2);
      ++total2_.files;
      total2_.headers += header;
      total2_.sourceLines += displayLine(line);
    }
    if (in1) {
      writeFileClosing(out1_, path1, file1);
      total1_.add(file1);
      ++total1_.files;
      total1_.headers += header;
      total1_.sourceLines += displayLine(lastLine1);
    }
  }

  // Writes f1_ to listing 1; now and then it is held back and written after the next function.
  void writeFirst(Tally& file1) {
    if (pendingValid_) {
      writeFunction(out1_, f1_, file1);
      writeFunction(out1_, pending_, file1);
      pendingValid_ = false;
    } else if (typicalFiles() && f1_.unique && r1_.chance(10)) {
      std::swap(pending_, f1_);
      pendingValid_ = true;
    } else {
      writeFunction(out1_, f1_, file1);
    }
  }

  void makeSignature(Func& f, Rng& r, uint64_t fileNo, uint32_t index, bool extra) {
    f.arena += "FUNCTION ";
    if (shape_ == Shape::kSameFunctionLine && !extra && !r.chance(30)) {
      f.arena += kSharedSignature;
      f.unique = false;
      return;
    }
    if (r.chance(2)) {
      // A long template name, up to the longest line a listing may hold.
      uint32_t length = r.range(300, 3900);
      f.arena += "Table<";
      while (f.arena.size() < length) f.arena += "std::pair<int, std::vector<double>>, ";
      f.arena += "void>::lookup(int key)";
      return;
    }
    f.arena += kClasses[(fileNo + index / 16) % std::size(kClasses)];
    f.arena += "::";
    f.arena += r.pick(kVerbs);
    f.arena += '_';
    f.arena += r.pick(kNouns);
    if (extra) f.arena += "_old";
    char digits[24];
    f.arena.append(digits, static_cast<size_t>(putDecimal(digits, index) - digits));
    f.arena += r.pick(kArgs);
  }

  // extra: a function of listing 1 only, with a name that listing 2 does not use.
  void makeFunction(Func& f, Rng& r, uint64_t fileNo, uint32_t index, uint32_t lines, uint64_t base,
                    bool extra) {
    f.clear();
    f.base = base;
    if (r.chance(40)) {
      f.directive = "#line ";
      char digits[24];
      f.directive.append(digits, static_cast<size_t>(putDecimal(digits, r.range(1, 900)) - digits));
      f.directive += " \"gen/grammar.y\"";
    }
    // Now and then a second function with the FUNCTION line text of the one before.
    if (typicalFiles() && !extra && r.chance(5) && !previousSignature_.empty()) {
      f.arena += "FUNCTION ";
      f.arena += previousSignature_;
      f.unique = false;
    } else {
      makeSignature(f, r, fileNo, index, extra);
    }
    uint64_t fnHits = r.chance(120) ? 0 : counterValue(r);
    Line& head = f.lines.emplace_back();
    head.pt = Pt::kHits;
    head.descLength = static_cast<uint32_t>(f.arena.size());
    head.c1 = fnHits;
    BodyBuilder(f, r, fnHits).build(lines);
    for (const Line& l : f.lines) f.statementTotal += l.statement;
    f.statementNA = r.chance(40);
    if (!extra) previousSignature_.assign(f.signature());
  }

  // f1_ becomes listing 1's version of f2_.
  void derive() {
    f1_ = f2_;
    Rng& r = r1_;
    uint32_t mode = r.below(1000);
    uint64_t fnHits = f1_.lines[0].c1;
    if (fnHits == 0 && r.chance(350)) {
      fnHits = counterValue(r);  // coverage lost in listing 2
    } else if (fnHits != 0 && mode < 50) {
      fnHits = 0;  // coverage gained in listing 2
    }
    bool fresh = (fnHits == 0) != (f1_.lines[0].c1 == 0) || (mode >= 50 && mode < 100);
    uint32_t rate = mode < 550 ? 0 : 150;
    for (size_t i = 1; i < f1_.lines.size(); ++i) {
      Line& l = f1_.lines[i];
      if (fnHits == 0 || fresh || r.chance(rate)) fillCounters(l, r, fnHits);
      if (l.tail != Tail::kFixed && r.chance(20)) {
        if (l.tail == Tail::kPlus) {
          l.suffix = l.suffix != 0 ? 0 : '+';
        } else {
          l.suffix = "\0+-"[r.below(3)];
        }
      }
    }
    f1_.lines[0].c1 = fnHits;
    if (shape_ == Shape::kChurn && fnHits != 0) flipCoverage(f1_, r);
    if (r.chance(shape_ == Shape::kSameFunctionLine ? 10 : 30)) editStructure(f1_, r, fnHits);
  }

  // Nearly half the lines of an entered function get the opposite coverage at every counter:
  // each of their measurement points changes coverage between the two listings.
  static void flipCoverage(Func& f, Rng& r) {
    for (size_t i = 1; i < f.lines.size(); ++i) {
      Line& l = f.lines[i];
      if (!r.chance(480)) continue;
      auto flip = [&](uint64_t c) { return c != 0 ? 0 : counterValue(r); };
      switch (l.pt) {
        case Pt::kNone:
          break;
        case Pt::kHits:
        case Pt::kCond1:
        case Pt::kConst1:
          l.c1 = flip(l.c1);
          break;
        case Pt::kTrueFalse:
          l.c1 = flip(l.c1);
          l.c2 = flip(l.c2);
          break;
        case Pt::kCond2:
        case Pt::kConst2:
          l.c2 = flip(l.c2);
          break;
        case Pt::kMcdc:
          l.mcdcMask = ~l.mcdcMask & ((1u << l.mcdcCount) - 1);
          break;
      }
    }
  }

  // Shapes laid out in file sections as a typical pair of listings is.
  bool typicalFiles() const { return shape_ == Shape::kTypical || shape_ == Shape::kChurn; }

  // One change that makes the two versions of a function differ in structure.
  static void editStructure(Func& f, Rng& r, uint64_t fnHits) {
    for (int attempt = 0; attempt < 6; ++attempt) {
      switch (r.below(7)) {
        case 0:  // a line less
          if (f.lines.size() > 2) {
            f.lines.erase(f.lines.begin() + 1 + r.below(static_cast<uint32_t>(f.lines.size() - 1)));
            return;
          }
          break;
        case 1:  // a line more
          BodyBuilder::addReturn(f, r, 1 + r.below(static_cast<uint32_t>(f.lines.size())), fnHits);
          return;
        case 2:    // changed text
        case 6: {  // a trailing blank
          Line* l = findLine(f, r, [](const Line& x) { return x.editable; });
          if (l == nullptr) break;
          uint32_t offset = static_cast<uint32_t>(f.arena.size());
          f.arena.append(f.arena, l->descOffset, l->descLength);
          f.arena += r.chance(500) ? " /*rev2*/" : " ";
          l->descOffset = offset;
          l->descLength = static_cast<uint32_t>(f.arena.size() - offset);
          return;
        }
        case 3: {  // a loop line that gains or loses its FALSE counter
          Line* l = findLine(f, r, [](const Line& x) { return x.loop; });
          if (l == nullptr) break;
          l->pt = l->pt == Pt::kHits ? Pt::kTrueFalse : Pt::kHits;
          fillCounters(*l, r, fnHits);
          return;
        }
        case 4:  // #line directive added or dropped
          if (f.directive.empty()) {
            f.directive = "#line 7 \"gen/lexer.l\"";
          } else {
            f.directive.clear();
          }
          return;
        case 5:  // a different statement count
          if (f.statementNA) {
            f.statementNA = false;
            if (f.statementTotal == 0) f.statementTotal = 1;
          } else {
            ++f.statementTotal;
          }
          return;
      }
    }
  }

  template <typename Test>
  static Line* findLine(Func& f, Rng& r, Test test) {
    size_t n = f.lines.size();
    size_t start = r.below(static_cast<uint32_t>(n));
    for (size_t k = 0; k < n; ++k) {
      Line& l = f.lines[(start + k) % n];
      if (&l != &f.lines[0] && test(l)) return &l;
    }
    return nullptr;
  }

  Shape shape_;
  uint64_t target_;
  Rng r2_;  // listing 2's structure
  Rng r1_;  // listing 1's deviations
  Sink& out1_;
  Sink& out2_;
  Tally total1_;
  Tally total2_;
  Func f2_;
  Func f1_;
  Func pending_;
  bool pendingValid_ = false;
  std::string previousSignature_;
  std::vector<std::string_view> includes_;
  uint32_t extraFunctionNo_ = 0;
  uint64_t extraFileNo_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Command line.

const char kHelp[] =
    "usage: gen_listings --seed N --size BYTES --shape SHAPE --out1 PATH --out2 PATH\n"
    "\n"
    "Writes a pair of execution profile listings for qrvdiff: listing 2 (--out2) of about BYTES\n"
    "bytes and listing 1 (--out1) derived from it, with shifted line numbers, changed counters,\n"
    "a few structural edits and functions and file sections that occur in one listing only.\n"
    "The same arguments always give the same bytes.\n"
    "\n"
    "  --seed N        seed of the random choices (unsigned 64-bit number)\n"
    "  --size BYTES    size of listing 2; a suffix K, M or G multiplies by 1024, 1024^2, 1024^3\n"
    "  --shape SHAPE   typical            file sections of 50 to 500 functions\n"
    "                  same-function-line one file section, nearly all functions with the\n"
    "                                     same FUNCTION line text\n"
    "                  many-files         many file sections of 1 to 3 small functions\n"
    "                  disjoint-files     most file sections of listing 1 are not in listing 2\n"
    "                  churn              as typical, but nearly half the lines of every entered\n"
    "                                     function change coverage\n"
    "  --out1 PATH     listing 1, the earlier listing (qrvdiff -i1)\n"
    "  --out2 PATH     listing 2, the later listing (qrvdiff -i2)\n"
    "  --help          this text\n";

bool parseNumber(const char* text, uint64_t& value, bool allowSuffix) {
  char* end = nullptr;
  if (*text < '0' || *text > '9') return false;
  value = std::strtoull(text, &end, 10);
  if (allowSuffix && *end != '\0' && end[1] == '\0') {
    switch (*end) {
      case 'k':
      case 'K':
        value <<= 10;
        ++end;
        break;
      case 'm':
      case 'M':
        value <<= 20;
        ++end;
        break;
      case 'g':
      case 'G':
        value <<= 30;
        ++end;
        break;
      default:
        break;
    }
  }
  return *end == '\0';
}

int usageError(const char* message, const char* argument) {
  std::fprintf(stderr, "gen_listings: %s%s\n(try --help)\n", message, argument);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 0;
  uint64_t size = 0;
  const char* shapeName = nullptr;
  const char* path1 = nullptr;
  const char* path2 = nullptr;
  bool haveSeed = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (i + 1 >= argc) return usageError("missing value after ", argv[i]);
    const char* value = argv[++i];
    if (option == "--seed") {
      if (!parseNumber(value, seed, false)) return usageError("bad seed: ", value);
      haveSeed = true;
    } else if (option == "--size") {
      if (!parseNumber(value, size, true) || size == 0) return usageError("bad size: ", value);
    } else if (option == "--shape") {
      shapeName = value;
    } else if (option == "--out1") {
      path1 = value;
    } else if (option == "--out2") {
      path2 = value;
    } else {
      return usageError("unknown option ", argv[i - 1]);
    }
  }
  if (!haveSeed || size == 0 || shapeName == nullptr || path1 == nullptr || path2 == nullptr) {
    return usageError("--seed, --size, --shape, --out1 and --out2 are all required", "");
  }
  Shape shape;
  std::string_view name = shapeName;
  if (name == "typical") {
    shape = Shape::kTypical;
  } else if (name == "same-function-line") {
    shape = Shape::kSameFunctionLine;
  } else if (name == "many-files") {
    shape = Shape::kManyFiles;
  } else if (name == "disjoint-files") {
    shape = Shape::kDisjointFiles;
  } else if (name == "churn") {
    shape = Shape::kChurn;
  } else {
    return usageError("unknown shape: ", shapeName);
  }

  Sink first;
  Sink second;
  if (!first.open(path1)) return usageError("cannot open ", path1);
  if (!second.open(path2)) return usageError("cannot open ", path2);
  Generator(shape, seed, size, first, second).run();
  bool ok1 = first.close();
  bool ok2 = second.close();
  if (!ok1 || !ok2) {
    std::fprintf(stderr, "gen_listings: write error on %s\n", ok1 ? path2 : path1);
    return 1;
  }
  return 0;
}
