#include <string_view>

#include "summary/escape.h"
#include "summary/formats.h"

namespace qrvdiff::summary {
namespace {

constexpr std::size_t kCellLimit = 200;  // bytes of one name or description in a cell
// Room kept free for the closing tags and the note on what was left out.
constexpr std::size_t kReserve = 1500;

std::string number(std::int64_t value) {
  return std::to_string(value);
}

std::string cell(std::string_view text) {
  std::string out;
  appendMarkdownText(out, text, kCellLimit);
  return out;
}

std::string statusText(FunctionStatus status) {
  switch (status) {
    case FunctionStatus::NotAvailable:
      return "not available";
    case FunctionStatus::Different:
      return "different";
    case FunctionStatus::Compared:
      break;
  }
  return "compared";
}

// Takes pieces of a section while they fit under `limit`; once one does not, takes no more, so
// that the caller need not even build the rest, only count it.
class Budget {
 public:
  Budget(std::string& out, std::size_t limit) : out_(out), limit_(limit) {}
  bool open() const { return open_; }
  bool add(const std::string& piece) {
    open_ = open_ && out_.size() + piece.size() <= limit_;
    if (open_) out_ += piece;
    return open_;
  }

 private:
  std::string& out_;
  std::size_t limit_;
  bool open_ = true;
};

void appendTotals(const ComparedSummary& summary, std::string& out) {
  const Amounts& totals = summary.totals;
  if (totals.lost > 0) {
    out += "**Coverage lost** at " + number(totals.lost) + " measurement point" +
           (totals.lost == 1 ? "" : "s") + "; coverage is " + number(summary.percent) + " %.\n\n";
  } else {
    out += "**No coverage lost**; coverage is " + number(summary.percent) + " %.\n\n";
  }
  out +=
      "| Functions compared | Functions | Not available | Different | Kept | Gained | Lost | "
      "Covered | Points | Percent |\n|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  out += "| " + number(summary.functionsCompared) + " | " + number(summary.functionsAll) + " | " +
         number(summary.notAvailable) + " | " + number(summary.different) + " | " +
         number(totals.kept) + " | " + number(totals.gained) + " | " + number(totals.lost) + " | " +
         number(totals.covered) + " | " + number(totals.points) + " | " + number(summary.percent) +
         " % |\n";
}

}  // namespace

void writeMarkdown(const ComparedSummary& summary, std::string& out) {
  const std::size_t start = out.size();
  std::string report;
  appendTotals(summary, report);
  std::size_t rowsLeftOut = 0;
  std::size_t pointsLeftOut = 0;
  std::size_t lostPoints = 0;
  for (const FileSummary& file : summary.files) {
    for (const FunctionSummary& function : summary.functionsOf(file))
      lostPoints += function.lostCount;
  }
  if (!summary.files.empty()) {
    report +=
        "\n| File | Function | Line | Status | Kept | Gained | Lost |\n"
        "|---|---|---:|---|---:|---:|---:|\n";
    // The function table takes at most half, so that lost points are shown too.
    Budget budget(report, kMarkdownLimit / 2);
    for (const FileSummary& file : summary.files) {
      for (const FunctionSummary& function : summary.functionsOf(file)) {
        if (!budget.open() ||
            !budget.add("| " + cell(file.path) + " | " + cell(summary.text(function.name)) + " | " +
                        number(function.line) + " | " + statusText(function.status) + " | " +
                        number(function.amounts.kept) + " | " + number(function.amounts.gained) +
                        " | " + number(function.amounts.lost) + " |\n")) {
          ++rowsLeftOut;
        }
      }
    }
  }
  if (lostPoints > 0) {
    report += "\n<details><summary>Lost points (" + number(static_cast<std::int64_t>(lostPoints)) +
              ")</summary>\n\n";
    Budget budget(report, kMarkdownLimit - kReserve);
    for (const FileSummary& file : summary.files) {
      for (const FunctionSummary& function : summary.functionsOf(file)) {
        for (const ChangedPoint& point : summary.lostPoints(function)) {
          if (!budget.open() ||
              !budget.add("- " + cell(file.path) + " line " + number(point.line) + ", column " +
                          number(point.markColumn) + ", " + cell(summary.text(function.name)) +
                          ": " + cell(summary.text(point.text)) + "\n")) {
            ++pointsLeftOut;
          }
        }
      }
    }
    report += "\n</details>\n";
  }
  if (rowsLeftOut > 0 || pointsLeftOut > 0) {
    report += "\n_Left out to stay under " + number(kMarkdownLimit) +
              " characters: " + number(static_cast<std::int64_t>(rowsLeftOut)) +
              " function rows and " + number(static_cast<std::int64_t>(pointsLeftOut)) +
              " lost points._\n";
  }
  out.insert(start, report);
}

}  // namespace qrvdiff::summary
