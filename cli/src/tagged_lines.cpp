#include "tagged_lines.h"

#include <algorithm>
#include <ostream>

#include "report.h"

namespace cli {

void TaggedLines::Take(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!m_cutting) {
            const std::size_t room = kMaxTaggedLine - m_line.size();
            m_line.append(piece.substr(0, room));
            if (piece.size() > room) {
                Write(m_line, true);
                m_line.clear();
                m_cutting = true;
            }
        }
        if (end == std::string_view::npos) return;
        if (!m_cutting) Write(m_line, false);
        m_line.clear();
        m_cutting = false;
        bytes.remove_prefix(end + 1);
    }
}

void TaggedLines::Finish() {
    if (!m_line.empty()) Write(m_line, false);
    m_line.clear();
    m_cutting = false;
}

void TaggedLines::Write(std::string_view line, bool cut) {
    if (m_form == Form::Text) {
        m_out << '[' << m_name << "] " << line;
        if (cut) m_out << " [line cut: longer than " << kMaxTaggedLine << " bytes]";
        m_out << '\n';
    } else {
        Json parsed = cut ? Json() : Json::parse(line, nullptr, false);
        Json tagged = {{"device", m_name}};
        if (parsed.is_object()) {
            for (auto& [key, value] : parsed.items())
                if (key != "device") tagged[key] = std::move(value);
        } else {
            tagged["text"] = std::string(line);
            if (cut) tagged["cut"] = true;
        }
        m_out << Dump(tagged) << '\n';
    }
    m_out.flush();
}

}  // namespace cli
