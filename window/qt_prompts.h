// Message boxes and the desktop's default handler for addresses.
#pragma once

#include "model/prompts.h"

class QWidget;

namespace kestrel::window {

// Prompts shown as the toolkit's message boxes over parent.
Prompts MakeDesktopPrompts(QWidget* parent);

}  // namespace kestrel::window
