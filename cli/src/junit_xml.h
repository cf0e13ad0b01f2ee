// A run's test record as JUnit XML, which CI servers and line dashboards read: one testsuite,
// one testcase per step.
#pragma once

#include <string>
#include <string_view>

#include "step.h"

namespace cli {

// `text` made fit for XML 1.0: every byte that is not part of a well-formed UTF-8 character and
// every character that XML 1.0 forbids (C0 controls other than tab, line feed and carriage
// return; U+FFFE, U+FFFF) replaced by U+FFFD; then &, <, > escaped, and in an attribute also
// quotes, tab, line feed and carriage return, so that a reader gets them back as they were.
std::string XmlText(std::string_view text, bool attribute);

// The JUnit document of a test record as run_record.h builds it.
std::string JunitXml(const Json& record);

}  // namespace cli
