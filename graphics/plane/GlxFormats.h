#pragma once
// The GLX framebuffer configurations of an X display as the plane lists
// them (see PixelFormats.h).

#include <vector>

#include "graphics/PixelFormatMenu.h"

// display: the X11 Display of the application.
std::vector<PixelFormatDesc> GlxFormats(void* display);
