#include "driver/command_line.h"

#include "base/error.h"
#include "base/version.h"

namespace qrvdiff {

namespace {

bool beginsWithHyphen(std::string_view word) {
  return !word.empty() && word.front() == '-';
}

}  // namespace

std::optional<RunOptions> parseCommandLine(int argumentCount, const char* const* arguments) {
  if (argumentCount <= 1) return std::nullopt;
  std::optional<std::string> inputPath1;
  std::optional<std::string> inputPath2;
  std::optional<std::string> outputPath;

  // -i1 and -i2 take the next word unless it begins with "-".
  const auto takeInput = [&](std::optional<std::string>& target, std::string_view option,
                             int& position) {
    if (target) throw Error("Command line, " + std::string(option) + " option already given");
    if (position + 1 >= argumentCount || beginsWithHyphen(arguments[position + 1])) {
      throw Error("Command line, argument missing for option " + std::string(option));
    }
    target = arguments[position + 1];
    position += 2;
  };

  int position = 1;
  while (position < argumentCount) {
    const std::string_view word = arguments[position];
    if (word == "-i1") {
      takeInput(inputPath1, word, position);
    } else if (word == "-i2") {
      takeInput(inputPath2, word, position);
    } else if (!beginsWithHyphen(word)) {
      throw Error("Command line, bad option: \"" + std::string(word) + "\"");
    } else if (word == "-p") {
      if (outputPath) throw Error("Command line, -p option already given");
      // "-p" takes the next word when it is "-" itself or does not begin with "-".
      if (position + 1 >= argumentCount || (beginsWithHyphen(arguments[position + 1]) &&
                                            std::string_view(arguments[position + 1]) != "-")) {
        throw Error("Command line, argument missing for option -p");
      }
      outputPath = arguments[position + 1];
      position += 2;
    } else if (word == "-h") {
      return std::nullopt;
    } else {
      throw Error("Command line, bad option: \"" + std::string(word) + "\"");
    }
  }
  if (!inputPath1) throw Error("Command line, option -i1 missing");
  if (!inputPath2) throw Error("Command line, option -i2 missing");
  if (!outputPath) throw Error("Command line, option -p missing");
  return RunOptions{*inputPath1, *inputPath2, *outputPath};
}

std::string helpText() {
  std::string text = "\nThis is QRV++ coverage comparator utility, qrvdiff v";
  text += versionText();
  text +=
      ".\n"
      "\n"
      "Two qrvpost-generated Execution Profile Listings are read. As output a copy\n"
      "of the second listing is written with structural coverage differences marked\n"
      "at the measurement points, as follows:\n"
      "\n"
      "  ^ => new coverage (listing 2 showed coverage while listing 1 did not)\n"
      "  v => lost coverage (listing 2 did not show coverage while listing 1 did)\n"
      "    => equal coverage (both listings showed coverage or both did not)\n"
      "\n"
      "Functions in input profile listings are paired and analysed. Amounts of\n"
      "differences [initially covered in listing 1 + additionally covered in\n"
      "listing 2 - not covered in listing 2] are reported at summary levels. If\n"
      "a function is new or looks different (max. line number shifts tolerated)\n"
      "in listing 2, the function shows in the output but in it there are no\n"
      "coverage difference markings at the measurement points.\n"
      "\n"
      "Usage:\n"
      "  qrvdiff -i1 profile1.txt -i2 profile2.txt -p {output.txt|-}\n"
      "  qrvdiff [-h]\n";
  return text;
}

bool isStandardOutputPath(std::string_view outputPath) {
  return outputPath == "-" || outputPath == "stdout";
}

}  // namespace qrvdiff
