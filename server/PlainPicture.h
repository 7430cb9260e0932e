#pragma once
// The picture shown for a file of which no picture could be made (an audio
// file without a cover, a video whose frames cannot be decoded): a light note
// on a dark ground, 130x97 like every thumbnail.
#include <string_view>

namespace sonabox::server {

std::string_view PlainPicture();

} // namespace sonabox::server
