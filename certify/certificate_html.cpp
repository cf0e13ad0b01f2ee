// The certificate as one HTML page: inline style and an inline SVG chart, nothing fetched.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "certificate.h"

namespace certify {
namespace {

// Text from the pad or the command line, made inert in HTML: markup characters as entities and
// control bytes as U+FFFD, so that nothing a pad reports can add markup to the page.
std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    out += "&#xFFFD;";
                else
                    out += c;
        }
    }
    return out;
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

const char* VerdictClass(Verdict verdict) {
    switch (verdict) {
        case Verdict::kPassed:
            return "pass";
        case Verdict::kFailed:
            return "fail";
        case Verdict::kError:
            return "error";
        case Verdict::kNotRun:
            return "notrun";
    }
    return "";
}

const char* ConformanceClass(Conformance conformance) {
    switch (conformance) {
        case Conformance::kConforms:
            return "pass";
        case Conformance::kDoesNotConform:
            return "fail";
        case Conformance::kIncomplete:
            return "error";
    }
    return "";
}

constexpr const char* kStyle = R"(
@page { size: A4; margin: 14mm; }
body { font-family: sans-serif; font-size: 10pt; color: #111; margin: 0 auto; max-width: 182mm; }
h1 { font-size: 16pt; margin: 0 0 4mm; }
h2 { font-size: 12pt; margin: 6mm 0 2mm; break-after: avoid; }
table { border-collapse: collapse; width: 100%; margin-bottom: 2mm; table-layout: fixed; }
th, td { border: 0.3mm solid #999; padding: 1mm 1.5mm; text-align: left; vertical-align: top;
         overflow-wrap: anywhere; }
th { background: #eee; }
tr { break-inside: avoid; }
.verdict { font-size: 20pt; font-weight: bold; padding: 3mm 4mm; border: 0.8mm solid; }
.verdict.pass { color: #0a5d1a; border-color: #0a5d1a; background: #e6f4e8; }
.verdict.fail { color: #9b0d0d; border-color: #9b0d0d; background: #fbe7e7; }
.verdict.error { color: #7a4a00; border-color: #7a4a00; background: #fff3d6; }
td.pass { color: #0a5d1a; font-weight: bold; }
td.fail { color: #9b0d0d; font-weight: bold; }
td.error { color: #7a4a00; font-weight: bold; }
td.notrun { color: #555; }
.facts th { width: 32%; }
.checks col.c-check { width: 25%; } .checks col.c-expected { width: 19%; }
.checks col.c-measured { width: 19%; } .checks col.c-verdict { width: 9%; }
.checks col.c-reason { width: 18%; } .checks col.c-ms { width: 10%; }
td.pass, td.fail, td.error, td.notrun { white-space: nowrap; }
.chart { width: 100%; height: auto; }
@media print { .verdict { -webkit-print-color-adjust: exact; print-color-adjust: exact; } }
)";

void Facts(std::ostringstream& out, const std::vector<std::pair<std::string, std::string>>& rows,
           const char* id) {
    out << "<table class=\"facts\" id=\"" << id << "\">\n";
    for (const auto& [name, value] : rows)
        out << "<tr><th scope=\"row\">" << Escape(name) << "</th><td>" << Escape(value)
            << "</td></tr>\n";
    out << "</table>\n";
}

// Each family's counts, so that a reader sees at once where a pad fails.
void Overview(std::ostringstream& out, const std::vector<CheckResult>& checks) {
    out << "<table id=\"overview\">\n<tr><th>family</th><th>passed</th><th>failed</th>"
           "<th>errors</th><th>not run</th></tr>\n";
    for (Family family : kFamilies) {
        std::vector<CheckResult> own;
        for (const CheckResult& check : checks)
            if (check.family == family) own.push_back(check);
        const Counts counts = CountVerdicts(own);
        out << "<tr><td>" << FamilyName(family) << "</td><td>" << counts.passed << "</td><td"
            << (counts.failed ? " class=\"fail\"" : "") << ">" << counts.failed << "</td><td"
            << (counts.errors ? " class=\"error\"" : "") << ">" << counts.errors << "</td><td>"
            << counts.notRun << "</td></tr>\n";
    }
    out << "</table>\n";
}

void FamilyTable(std::ostringstream& out, Family family, const std::vector<CheckResult>& checks) {
    out << "<h2>" << Escape(FamilyName(family)) << "</h2>\n<table id=\"family-"
        << FamilyName(family)
        << "\" class=\"checks\">\n<colgroup><col class=\"c-check\"><col class=\"c-expected\">"
           "<col class=\"c-measured\"><col class=\"c-verdict\"><col class=\"c-reason\">"
           "<col class=\"c-ms\"></colgroup>\n<tr><th>check</th><th>expected</th><th>measured</th>"
           "<th>verdict</th><th>reason</th><th>ms / time-out</th></tr>\n";
    bool any = false;
    for (const CheckResult& check : checks) {
        if (check.family != family) continue;
        any = true;
        out << "<tr><td>" << Escape(check.name) << "</td><td>" << Escape(check.expected)
            << "</td><td>" << Escape(check.measured) << "</td><td class=\""
            << VerdictClass(check.verdict) << "\">" << VerdictName(check.verdict) << "</td><td>"
            << Escape(check.reason) << "</td><td>";
        if (check.ms) out << Milliseconds(*check.ms) << " / " << check.limitMs;
        out << "</td></tr>\n";
    }
    if (!any) out << "<tr><td colspan=\"6\">no check of this family</td></tr>\n";
    out << "</table>\n";
}

// One bar per exchange: its round trip as a share of its time-out, the time-out the right edge.
void TimingChart(std::ostringstream& out, const std::vector<CheckResult>& checks) {
    std::vector<const CheckResult*> timed;
    for (const CheckResult& check : checks)
        if (check.ms && check.limitMs > 0) timed.push_back(&check);
    out << "<h2>Round trip against time-out</h2>\n";
    if (timed.empty()) {
        out << "<p>No command was exchanged.</p>\n";
        return;
    }
    constexpr int kLabel = 250, kBar = 330, kRow = 13, kTop = 16;
    const int height = kTop + static_cast<int>(timed.size()) * kRow + 6;
    out << "<svg class=\"chart\" role=\"img\" aria-label=\"round trip of every command against "
           "its time-out\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 "
        << kLabel + kBar + 110 << ' ' << height
        << "\" font-family=\"sans-serif\" font-size=\"9\">\n"
        << "<text x=\"" << kLabel << "\" y=\"10\">0</text><text x=\"" << kLabel + kBar - 40
        << "\" y=\"10\">time-out</text>\n"
        << "<line x1=\"" << kLabel + kBar << "\" y1=\"12\" x2=\"" << kLabel + kBar << "\" y2=\""
        << height << "\" stroke=\"#9b0d0d\" stroke-width=\"1\"/>\n";
    int y = kTop;
    for (const CheckResult* check : timed) {
        const double share = std::min(1.0, *check->ms / static_cast<double>(check->limitMs));
        const int width = std::max(1, static_cast<int>(share * kBar));
        const char* fill = check->verdict == Verdict::kPassed   ? "#3b8f4b"
                           : check->verdict == Verdict::kFailed ? "#c0392b"
                                                                : "#d68910";
        out << "<text x=\"" << kLabel - 4 << "\" y=\"" << y + 9 << "\" text-anchor=\"end\">"
            << Escape(check->name.substr(0, 48)) << "</text><rect x=\"" << kLabel << "\" y=\""
            << y + 1 << "\" width=\"" << width << "\" height=\"" << kRow - 3 << "\" fill=\"" << fill
            << "\"/><text x=\"" << kLabel + kBar + 4 << "\" y=\"" << y + 9 << "\">"
            << Milliseconds(*check->ms) << " / " << check->limitMs << " ms</text>\n";
        y += kRow;
    }
    out << "</svg>\n";
}

void List(std::ostringstream& out, const char* title, const char* id,
          const std::vector<std::string>& items, const char* none) {
    out << "<h2>" << title << "</h2>\n<ul id=\"" << id << "\">\n";
    for (const std::string& item : items) out << "<li>" << Escape(item) << "</li>\n";
    if (items.empty()) out << "<li>" << none << "</li>\n";
    out << "</ul>\n";
}

}  // namespace

std::string ToHtml(const Certificate& certificate) {
    const Counts counts = CountVerdicts(certificate.checks);
    const Unit& unit = certificate.unit;
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
           "style-src 'unsafe-inline'\">\n<title>Pad conformance certificate "
        << Escape(unit.serial) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
        << "<h1>Pad conformance certificate</h1>\n<p class=\"verdict "
        << ConformanceClass(certificate.conformance) << "\" id=\"verdict\">"
        << ConformanceName(certificate.conformance) << "</p>\n<p id=\"counts\">" << counts.passed
        << " passed, " << counts.failed << " failed, " << counts.errors << " errors, "
        << counts.notRun << " not run"
        << (certificate.interrupted ? "; the certification was interrupted" : "") << ".</p>\n"
        << "<h2>Families</h2>\n";
    Overview(out, certificate.checks);
    out << "<h2>Unit</h2>\n";
    Facts(out,
          {{"label", unit.label},
           {"model", unit.model},
           {"serial number", unit.serial},
           {"firmware", unit.firmware},
           {"hardware", unit.hardware},
           {"date code", unit.dateCode},
           {"description", unit.description}},
          "unit");
    out << "<h2>Certification</h2>\n";
    Facts(
        out,
        {{"station", certificate.station},
         {"operator", certificate.operatorName},
         {"date (UTC)", certificate.date},
         {"tool version", certificate.toolVersion},
         {"device", certificate.device},
         {"line", std::to_string(certificate.baud) + " baud, 8 data bits, no parity, 1 stop bit"}},
        "station");
    for (Family family : kFamilies) FamilyTable(out, family, certificate.checks);
    TimingChart(out, certificate.checks);
    List(out, "Key indexes written", "keys-written", certificate.keysWritten, "none");
    List(out, "Changes left on the pad", "changes-left", certificate.changesLeft, "none");
    out << "</body>\n</html>\n";
    return out.str();
}

}  // namespace certify
