// Text forms shared by the schema document's writer and reader: numbers and
// strings as the document writes them, and values as error messages show them.
#pragma once

#include <string>
#include <string_view>

namespace nolt {

// A finite double in the document's layout: the shortest digits that read back
// as the same value, fixed notation for decimal exponents -5..15 (integral
// values end in ".0"), scientific with an explicit exponent sign otherwise.
void append_json_double(std::string& out, double value);

// A JSON string literal with the document's escapes; other bytes stay raw.
void append_json_string(std::string& out, std::string_view text);

// A text in double quotes as error messages quote it: \t \r \n \\ \" \0 and
// \u{hex} for other controls, invisible characters and combining marks.
void append_quoted_for_message(std::string& out, std::string_view text);

}  // namespace nolt
