// Toolbar and button pictures: the desktop's icon theme, with drawn pictures
// when the theme has none.
#pragma once

#include <QIcon>
#include <string_view>

namespace kestrel::window {

// The picture of a name used by the window: "New", "Add", "OutFolder",
// "OutFormat", "Preferences", "Convert", "Help", "Email", "Web", "Updates".
QIcon Picture(std::string_view name);

}  // namespace kestrel::window
