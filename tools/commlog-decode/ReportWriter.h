#pragma once

#include <string>

#include "DecodeReport.h"

// The report for a person: the timeline, where decoding stopped, the
// problems found and a summary of every connection.
std::string RenderText(const TDecodeReport& report);

// The same as one JSON object, for tools.
std::string RenderJson(const TDecodeReport& report);
