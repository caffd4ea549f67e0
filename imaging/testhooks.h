// What the imaging library counts about its own work, for its tests: not
// part of the codec interface, and nothing in the program reads it.
#pragma once

namespace cxcodec::testhooks {

// How many JPEG decodes so far shared their work with a helper thread.
int SplitJpegDecodes();

} // namespace cxcodec::testhooks
