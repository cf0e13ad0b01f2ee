// The output of one pad's process in a run of several pads: its bytes cut into lines, each line
// written whole with the pad's name, so that the lines of different pads never mix mid-line.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace cli {

// The longest line kept whole; a longer one is cut there and marked, the rest of it dropped.
inline constexpr std::size_t kMaxTaggedLine = 64 * 1024;

class TaggedLines {
public:
    // Text: "[NAME] line". Json: each JSON object with "device": NAME as its first member; a line
    // that is no JSON object becomes {"device": NAME, "text": line}, with "cut": true when cut.
    enum class Form { Text, Json };

    TaggedLines(std::string name, Form form, std::ostream& out)
        : m_name(std::move(name)), m_form(form), m_out(out) {}

    // Takes the next bytes and writes every line they complete.
    void Take(std::string_view bytes);
    // The stream ended: a last line without its line end is written too.
    void Finish();

private:
    void Write(std::string_view line, bool cut);

    std::string m_name;
    Form m_form;
    std::ostream& m_out;
    std::string m_line;      // the line so far, at most kMaxTaggedLine bytes
    bool m_cutting = false;  // the line was cut: its bytes are dropped up to its end
};

}  // namespace cli
