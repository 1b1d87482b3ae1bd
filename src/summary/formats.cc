#include "summary/formats.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "summary/escape.h"

namespace qrvdiff::summary {
namespace {

std::string number(std::int64_t value) {
  return std::to_string(value);
}

// Hands what `out` holds to the sink once it has grown large, so that a long report is never
// held whole in memory.
void drain(std::string& out, const FormatOptions& options) {
  if (!options.sink || out.size() < kDrainSize) return;
  options.sink(out);
  out.clear();
}

// `value` right-aligned in `width` characters (wider when it needs more).
void appendAligned(std::string& out, std::uint32_t value, std::size_t width) {
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (count < width) out.append(width - count, ' ');
  while (count != 0) out.push_back(digits[--count]);
}

struct Colours {
  std::string_view red, green, bold, reset;
};
Colours coloursFor(bool on) {
  if (!on) return {};
  return {"\x1b[31m", "\x1b[32m", "\x1b[1m", "\x1b[0m"};
}

void appendAmounts(std::string& out, const Amounts& amounts) {
  out += "kept ";
  out += number(amounts.kept);
  out += ", gained ";
  out += number(amounts.gained);
  out += ", lost ";
  out += number(amounts.lost);
  out += ", covered ";
  out += number(amounts.covered);
  out += " of ";
  out += number(amounts.points);
}

void appendTextPoints(const ComparedSummary& summary, std::string& out,
                      std::span<const ChangedPoint> points, std::string_view label,
                      std::string_view colour, const Colours& colours) {
  for (const ChangedPoint& point : points) {
    out += "      ";
    out += colour;
    out += label;
    out += colours.reset;
    out += "  line ";
    appendAligned(out, point.line, 6);
    out += "  col ";
    appendAligned(out, point.markColumn, 0);
    out += "  ";
    out += summary.text(point.text);
    out += '\n';
  }
}

}  // namespace

void writeText(const ComparedSummary& summary, const FormatOptions& options, std::string& out) {
  if (options.sink) out.reserve(2 * kDrainSize);
  const Colours colours = coloursFor(options.colour);
  const Amounts& totals = summary.totals;
  if (totals.lost > 0) {
    out += colours.red;
    out += "Coverage lost at " + number(totals.lost) + " point" + (totals.lost == 1 ? "" : "s");
  } else {
    out += colours.green;
    out += "No coverage lost";
  }
  out += colours.reset;
  out += "\nFunctions compared : " + number(summary.functionsCompared) + " of " +
         number(summary.functionsAll) + " (not available " + number(summary.notAvailable) +
         ", different " + number(summary.different) + ")\n";
  out += "Points covered     : " + number(totals.covered) + " of " + number(totals.points) + ", " +
         number(summary.percent) + " %\n";
  out += "Kept, gained, lost : " + number(totals.kept) + ", " + number(totals.gained) + ", " +
         number(totals.lost) + "\n";
  for (const FileSummary& file : summary.files) {
    out += '\n';
    out += colours.bold;
    out += file.path;
    out += colours.reset;
    out += "  (";
    appendAmounts(out, file.amounts);
    out += ")\n";
    for (const FunctionSummary& function : summary.functionsOf(file)) {
      out += "  line ";
      appendAligned(out, function.line, 6);
      out += "  FUNCTION ";
      out += summary.text(function.name);
      out += "  (";
      if (function.status == FunctionStatus::Compared) {
        appendAmounts(out, function.amounts);
      } else {
        out += function.status == FunctionStatus::Different ? "different" : "not available";
        out += ", covered " + number(function.amounts.covered) + " of " +
               number(function.amounts.points);
      }
      out += ")\n";
      appendTextPoints(summary, out, summary.lostPoints(function), "lost  ", colours.red, colours);
      appendTextPoints(summary, out, summary.gainedPoints(function), "gained", colours.green,
                       colours);
      drain(out, options);
    }
  }
}

namespace {

void appendJsonKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
}
void appendJsonText(std::string& out, std::string_view key, std::string_view value) {
  appendJsonKey(out, key);
  out += '"';
  appendJsonString(out, value);
  out += '"';
}
void appendJsonNumber(std::string& out, std::string_view key, std::int64_t value) {
  appendJsonKey(out, key);
  out += number(value);
}
void appendJsonAmounts(std::string& out, const Amounts& amounts) {
  appendJsonNumber(out, "kept", amounts.kept);
  out += ',';
  appendJsonNumber(out, "gained", amounts.gained);
  out += ',';
  appendJsonNumber(out, "lost", amounts.lost);
  out += ',';
  appendJsonNumber(out, "covered", amounts.covered);
  out += ',';
  appendJsonNumber(out, "points", amounts.points);
}
void appendJsonPoints(const ComparedSummary& summary, std::string& out, std::string_view key,
                      std::span<const ChangedPoint> points) {
  appendJsonKey(out, key);
  out += '[';
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i != 0) out += ',';
    out += "\n        {";
    appendJsonNumber(out, "line", points[i].line);
    out += ',';
    appendJsonNumber(out, "mark_column", points[i].markColumn);
    out += ',';
    appendJsonText(out, "text", summary.text(points[i].text));
    out += '}';
  }
  out += ']';
}
void appendJsonFunction(const ComparedSummary& summary, std::string& out,
                        const FunctionSummary& function) {
  out += "\n      {";
  appendJsonText(out, "name", summary.text(function.name));
  out += ',';
  appendJsonNumber(out, "line", function.line);
  out += ',';
  appendJsonText(out, "status", statusName(function.status));
  out += ',';
  appendJsonAmounts(out, function.amounts);
  out += ',';
  appendJsonPoints(summary, out, "lost_points", summary.lostPoints(function));
  out += ',';
  appendJsonPoints(summary, out, "gained_points", summary.gainedPoints(function));
  out += '}';
}

}  // namespace

void writeJson(const ComparedSummary& summary, const FormatOptions& options, std::string& out) {
  if (options.sink) out.reserve(2 * kDrainSize);
  out += "{\n  ";
  appendJsonKey(out, "totals");
  out += '{';
  appendJsonNumber(out, "functions_compared", summary.functionsCompared);
  out += ',';
  appendJsonNumber(out, "functions_all", summary.functionsAll);
  out += ',';
  appendJsonAmounts(out, summary.totals);
  out += ',';
  appendJsonNumber(out, "percent", summary.percent);
  out += "},\n  ";
  appendJsonNumber(out, "not_available", summary.notAvailable);
  out += ",\n  ";
  appendJsonNumber(out, "different", summary.different);
  out += ",\n  ";
  appendJsonKey(out, "files");
  out += '[';
  for (std::size_t i = 0; i < summary.files.size(); ++i) {
    const FileSummary& file = summary.files[i];
    out += i == 0 ? "\n    {" : ",\n    {";
    appendJsonText(out, "path", file.path);
    out += ',';
    appendJsonAmounts(out, file.amounts);
    out += ',';
    appendJsonKey(out, "functions");
    out += '[';
    const std::span<const FunctionSummary> functions = summary.functionsOf(file);
    for (std::size_t j = 0; j < functions.size(); ++j) {
      if (j != 0) out += ',';
      appendJsonFunction(summary, out, functions[j]);
      drain(out, options);
    }
    out += "]}";
  }
  out += "]\n}\n";
}

namespace {

// The functions with lost points, most lost points first; listing order among equals.
std::vector<std::pair<const FileSummary*, const FunctionSummary*>> byLoss(
    const ComparedSummary& summary) {
  std::vector<std::pair<const FileSummary*, const FunctionSummary*>> losing;
  for (const FileSummary& file : summary.files) {
    for (const FunctionSummary& function : summary.functionsOf(file)) {
      if (function.lostCount != 0) losing.emplace_back(&file, &function);
    }
  }
  std::stable_sort(losing.begin(), losing.end(), [](const auto& a, const auto& b) {
    return a.second->lostCount > b.second->lostCount;
  });
  return losing;
}

}  // namespace

void writeGithub(const ComparedSummary& summary, const FormatOptions& options, std::string& out) {
  std::size_t written = 0;
  std::size_t lostPoints = 0;
  for (const auto& [file, function] : byLoss(summary)) {
    for (const ChangedPoint& point : summary.lostPoints(*function)) {
      ++lostPoints;
      if (written == options.maxAnnotations) continue;
      ++written;
      out += "::warning file=";
      appendWorkflowProperty(out, file->path);
      if (point.line != 0) out += ",line=" + number(point.line);
      out += ",title=Coverage lost::";
      std::string message = "Coverage lost (column " + number(point.markColumn) + ") in FUNCTION ";
      message += summary.text(function->name);
      message += ": ";
      message += summary.text(point.text);
      appendWorkflowMessage(out, message);
      out += '\n';
    }
  }
  const Amounts& totals = summary.totals;
  std::string message = "Coverage " + number(summary.percent) + " % (" + number(totals.covered) +
                        "/" + number(totals.points) + " points): kept " + number(totals.kept) +
                        ", gained " + number(totals.gained) + ", lost " + number(totals.lost) +
                        "; " + number(summary.functionsCompared) + " of " +
                        number(summary.functionsAll) + " functions compared; " +
                        number(lostPoints - written) + " lost points without annotation";
  out += "::notice title=Coverage summary::";
  appendWorkflowMessage(out, message);
  out += '\n';
}

}  // namespace qrvdiff::summary
