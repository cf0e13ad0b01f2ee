#include "junit_xml.h"

#include <cstdio>
#include <optional>

#include "hex_text.h"
#include "report.h"

namespace cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool AllowedInXml(char32_t c) {
    if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
    return c != 0xFFFE && c != 0xFFFF;
}

std::string Attribute(const char* name, std::string_view value) {
    return std::string(" ") + name + "=\"" + XmlText(value, true) + '"';
}

std::string Seconds(long long milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

std::string TextOf(const Json& value) {
    if (value.is_null()) return "";
    if (value.is_string()) return value.get<std::string>();
    return Dump(value);
}

std::string Property(const char* name, const Json& value) {
    return "    <property" + Attribute("name", name) + Attribute("value", TextOf(value)) + "/>\n";
}

std::string Properties(const Json& record) {
    return "  <properties>\n" + Property("unit", record["unit"]["label"]) +
           Property("serial", record["unit"]["serial"]) +
           Property("model", record["unit"]["model"]) + Property("operator", record["operator"]) +
           Property("port", record["port"]) + Property("baud", record["baud"]) +
           Property("run", record["run"]) + Property("run_sha256", record["run_sha256"]) +
           Property("tool_version", record["tool_version"]) +
           Property("outcome", record["outcome"]) + Property("exit_code", record["exit_code"]) +
           "  </properties>\n";
}

// The suite's name: the device and the unit (its label, else its serial), so that the files of
// several pads merge without clashes.
std::string SuiteName(const Json& record) {
    const Json& unit = record["unit"];
    const std::string label = !unit["label"].is_null()    ? TextOf(unit["label"])
                              : !unit["serial"].is_null() ? TextOf(unit["serial"])
                                                          : "unit unknown";
    return TextOf(record["port"]) + " " + label;
}

// The failure's body: what was sent, what came back and what was compared.
std::string FailureBody(const Json& step) {
    std::string body = "result: " + TextOf(step["result"]) + " " + TextOf(step["result_text"]);
    if (step.contains("line")) body += "\nline: " + TextOf(step["line"]);
    body += "\nrequest: " + TextOf(step["request"]);
    body += "\nmeasured: " + TextOf(step["measured"]);
    body += "\nchecks: " + TextOf(step["checks"]);
    return body;
}

// A step's test case: named by its run-file line (or its number on the command line) and its
// operation, in the class of its family ("key", "pin", "mac", ...).
std::string TestCase(const Json& step, const std::string& notRunWhy) {
    const std::string operation = step["operation"].get<std::string>();
    const std::string name =
        (step["line"].is_null() ? "step " + TextOf(step["step"]) : "line " + TextOf(step["line"])) +
        ": " + operation;
    std::string xml = "  <testcase" + Attribute("name", name) +
                      Attribute("classname", operation.substr(0, operation.find(' ')));
    const std::string status = step["status"];
    if (status == "not run")
        return xml + Attribute("time", "0.000") + ">\n    <skipped" +
               Attribute("message", notRunWhy) + "/>\n  </testcase>\n";
    xml += Attribute("time", Seconds(step["ms"].get<long long>()));
    if (status == "passed") return xml + "/>\n";
    // An error or a step the interrupt ended is an <error>; only a failed answer a <failure>.
    const char* element = status == "failed" ? "failure" : "error";
    const std::string message =
        status == "aborted" ? std::string("interrupted") : TextOf(step["result_text"]);
    return xml + ">\n    <" + element + Attribute("message", message) + ">" +
           XmlText(FailureBody(step), false) + "</" + element + ">\n  </testcase>\n";
}

}  // namespace

std::string XmlText(std::string_view text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto decoded = DecodeUtf8(text);
        if (!decoded || !AllowedInXml(decoded->first)) {
            out += kReplacement;
            text.remove_prefix(decoded ? decoded->second : 1);
            continue;
        }
        const std::string_view character = text.substr(0, decoded->second);
        text.remove_prefix(decoded->second);
        switch (character.front()) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            default:
                break;
        }
        if (attribute) {
            switch (character.front()) {
                case '"':
                    out += "&quot;";
                    continue;
                case '\'':
                    out += "&apos;";
                    continue;
                case '\t':
                    out += "&#9;";
                    continue;
                case '\n':
                    out += "&#10;";
                    continue;
                case '\r':
                    out += "&#13;";
                    continue;
                default:
                    break;
            }
        } else if (character.front() == '\r') {
            out += "&#13;";  // a reader would turn a bare carriage return into a line feed
            continue;
        }
        out += character;
    }
    return out;
}

std::string JunitXml(const Json& record) {
    const Json& summary = record["summary"];
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite";
    xml += Attribute("name", SuiteName(record));
    xml += Attribute("tests", std::to_string(record["steps"].size()));
    xml += Attribute("failures", TextOf(summary["failures"]));
    xml += Attribute("errors", TextOf(summary["errors"]));
    xml += Attribute("skipped", TextOf(summary["not_run"]));
    xml += Attribute("time", Seconds(summary["ms"].get<long long>()));
    xml += Attribute("timestamp", TextOf(record["started"]));
    xml += Attribute("hostname", TextOf(record["station"]));
    xml += ">\n" + Properties(record);
    const std::string notRunWhy = record["outcome"] == "aborted"
                                      ? "not run: the run was interrupted"
                                      : "not run: an earlier step did not pass";
    for (const Json& step : record["steps"]) xml += TestCase(step, notRunWhy);
    return xml + "</testsuite>\n";
}

}  // namespace cli
