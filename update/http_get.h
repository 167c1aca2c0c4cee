// A minimal HTTP/1.0 GET over a plain TCP connection.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// The first three characters of the response body (the text between the
// first and the second blank line), blanks trimmed; empty on any failure.
// The scheme of url is not looked at; the port defaults to 80. Waits at most
// about 10 seconds for the server.
std::string HttpGetBodyPrefix(std::string_view url, std::string_view agent);

}  // namespace kestrel
