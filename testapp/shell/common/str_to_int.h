// The toolkit-style decimal conversion whose failure the shell shows as the standard error dialog.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>

namespace shell {

// Raised for a text that is not a decimal integer; what() is the dialog's message.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string& message) : std::runtime_error(message) {}
};

// Converts a decimal integer text (optional sign, leading blanks allowed). Throws ConversionError
// with "'<text>' is not a valid integer value" for anything else, an empty text and overflow.
int StrToInt(const QString& text);

}  // namespace shell
