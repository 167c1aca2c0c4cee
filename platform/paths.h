// Path rules of the command line. "/" is the folder separator; "\" also counts
// where a Windows-style path is read, so both are accepted as separators.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Extension of a path: scanning back from the end, the first ".", "/", "\" or
// blank decides. Only a "." that is neither the first character nor directly
// after a separator starts an extension. Empty when there is none.
std::string ExtensionOf(std::string_view path);

// The path up to and including its last "/" or "\"; empty when it has none.
std::string FolderPart(std::string_view path);

// The file name: everything after the last "/" or "\".
std::string FileNamePart(std::string_view path);

}  // namespace kestrel
