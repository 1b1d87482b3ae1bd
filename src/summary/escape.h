#pragma once

#include <string>
#include <string_view>

namespace qrvdiff::summary {

// Appends `bytes` as the contents of a JSON string (without the quotes). Valid UTF-8 is kept;
// a byte that is not part of valid UTF-8 is read as Latin-1 and written as \u00XX.
void appendJsonString(std::string& out, std::string_view bytes);

// Appends `bytes` as UTF-8: valid UTF-8 is kept, any other byte is read as Latin-1.
void appendUtf8(std::string& out, std::string_view bytes);

// The escapes of a workflow command: in a message "%", CR and LF; in a property also ":" and ",".
void appendWorkflowMessage(std::string& out, std::string_view bytes);
void appendWorkflowProperty(std::string& out, std::string_view bytes);

// Appends text for a markdown table cell or list item: at most `limit` bytes of the input (then
// "..."), characters that markdown or HTML would act on escaped, and UTF-8 as appendUtf8.
void appendMarkdownText(std::string& out, std::string_view bytes, std::size_t limit);

}  // namespace qrvdiff::summary
