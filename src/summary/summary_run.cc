#include "summary/summary_run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "base/error.h"
#include "base/platform.h"
#include "base/version.h"
#include "listing/line_reader.h"
#include "summary/compared_summary.h"
#include "summary/formats.h"

namespace qrvdiff::summary {
namespace {

constexpr std::string_view kHelp =
    "Usage: qrvdiff-summary [OPTIONS] COMPARED\n"
    "Summarises a compared listing written by qrvdiff; COMPARED is a path, or - for standard\n"
    "input.\n"
    "\n"
    "Options:\n"
    "  --format FORMAT        text (default), json, github or markdown\n"
    "  --fail-on-loss         exit 1 when any measurement point lost its coverage\n"
    "  --max-annotations N    github: at most N warnings, largest losses first (default 10)\n"
    "  --strip-prefix PREFIX  remove PREFIX from the start of file paths\n"
    "  -h, --help             print this help and exit\n"
    "  --version              print the version and exit\n"
    "\n"
    "Exit status: 0 when the report is written (under --fail-on-loss: and nothing was lost),\n"
    "1 when coverage was lost under --fail-on-loss, 2 for every error.\n";

enum class Format { Text, Json, Github, Markdown };

struct Options {
  Format format = Format::Text;
  bool failOnLoss = false;
  std::size_t maxAnnotations = 10;
  std::string stripPrefix;
  std::string path;
  bool help = false;
  bool version = false;
};

Format parseFormat(std::string_view name) {
  if (name == "text") return Format::Text;
  if (name == "json") return Format::Json;
  if (name == "github") return Format::Github;
  if (name == "markdown") return Format::Markdown;
  throw Error("unknown format '" + std::string(name) + "' (text, json, github or markdown)");
}

std::size_t parseCount(std::string_view text) {
  std::size_t value = 0;
  if (text.empty() || text.size() > 9) throw Error("--max-annotations needs a number");
  for (char c : text) {
    if (c < '0' || c > '9')
      throw Error("--max-annotations needs a number, not '" + std::string(text) + "'");
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

Options parseCommandLine(int argc, char** argv) {
  Options options;
  bool havePath = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    std::optional<std::string_view> attached;
    if (word.starts_with("--") && word.find('=') != std::string_view::npos) {
      attached = word.substr(word.find('=') + 1);
      word = word.substr(0, word.find('='));
    }
    const auto value = [&]() -> std::string_view {
      if (attached) return *attached;
      if (i + 1 >= argc) throw Error(std::string(word) + " needs a value");
      return argv[++i];
    };
    if (word == "--format") {
      options.format = parseFormat(value());
    } else if (word == "--max-annotations") {
      options.maxAnnotations = parseCount(value());
    } else if (word == "--strip-prefix") {
      options.stripPrefix = value();
    } else if (attached) {
      throw Error("option " + std::string(word) + " takes no value");
    } else if (word == "--fail-on-loss") {
      options.failOnLoss = true;
    } else if (word == "-h" || word == "--help") {
      options.help = true;
    } else if (word == "--version") {
      options.version = true;
    } else if (word.size() > 1 && word[0] == '-') {
      throw Error("unknown option " + std::string(word));
    } else if (havePath) {
      throw Error("only one compared listing, not also '" + std::string(word) + "'");
    } else {
      options.path = word;
      havePath = true;
    }
  }
  if (!havePath && !options.help && !options.version) {
    throw Error("no compared listing given (a path, or - for standard input)");
  }
  return options;
}

ComparedSummary readSummary(const std::string& path) {
  const bool standardInput = path == "-";
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw Error(path + ": cannot open: " + std::strerror(errno));
  const std::string shownPath = standardInput ? "(standard input)" : path;
  struct Closer {
    std::FILE* file;
    bool owned;
    ~Closer() {
      if (owned) std::fclose(file);
    }
  } closer{file, !standardInput};
  FileSource source(file);
  try {
    return readComparedSummary(source, shownPath);
  } catch (const std::system_error& failure) {
    throw Error(shownPath + ": cannot be read: " + failure.what());
  }
}

void stripPrefix(ComparedSummary& summary, std::string_view prefix) {
  if (prefix.empty()) return;
  for (FileSummary& file : summary.files) {
    if (file.path.starts_with(prefix)) file.path.erase(0, prefix.size());
  }
}

void writeOut(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    throw Error(std::string("cannot write standard output: ") + std::strerror(errno));
  }
}

void writeReport(const ComparedSummary& summary, const Options& options) {
  FormatOptions formatOptions;
  formatOptions.maxAnnotations = options.maxAnnotations;
  formatOptions.colour = standardOutputIsTerminal() && std::getenv("NO_COLOR") == nullptr;
  formatOptions.sink = writeOut;
  std::string out;
  switch (options.format) {
    case Format::Text:
      writeText(summary, formatOptions, out);
      break;
    case Format::Json:
      writeJson(summary, formatOptions, out);
      break;
    case Format::Github:
      writeGithub(summary, formatOptions, out);
      break;
    case Format::Markdown:
      writeMarkdown(summary, out);
      break;
  }
  writeOut(out);
  if (std::fflush(stdout) != 0) {
    throw Error(std::string("cannot write standard output: ") + std::strerror(errno));
  }
}

}  // namespace

int runSummary(int argc, char** argv) {
  // The report grows in blocks that are given back as they grow (vectors, text chunks).
  reuseHeapPagesOfLargeBlocks();
  try {
    const Options options = parseCommandLine(argc, argv);
    if (options.help) {
      writeOut(kHelp);
      std::fflush(stdout);
      return 0;
    }
    if (options.version) {
      writeOut("qrvdiff-summary " + std::string(versionText()) + "\n");
      std::fflush(stdout);
      return 0;
    }
    ComparedSummary summary = readSummary(options.path);
    stripPrefix(summary, options.stripPrefix);
    writeReport(summary, options);
    return options.failOnLoss && summary.totals.lost > 0 ? 1 : 0;
  } catch (const Error& error) {
    std::fprintf(stderr, "qrvdiff-summary: %s\n", error.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "qrvdiff-summary: out of memory\n");
  }
  return 2;
}

}  // namespace qrvdiff::summary
