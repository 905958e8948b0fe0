#pragma once

#include <string>

#include "base/Error.h"

// What an error code of the tunnel, the HTTP client or the file system
// stands for, in words, with the code after them: "connection refused
// (20001)". An operating-system cause below the code adds its reason
// ("connection refused (20001: Connection refused)"). For a bad HTTP
// status, statusLine (the server's status line) tells what the server said:
// "HTTP 404 Not Found (27007)". A code without words of its own is "error
// CODE".
std::string ErrorText(const Error& error, const std::string& statusLine = "");
