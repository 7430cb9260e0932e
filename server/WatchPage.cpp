#include "WatchPage.h"

#include "Feed.h"
#include "LibraryScanner.h"
#include "core/common/TextHelpers.h"

namespace sonabox::server {

namespace {
// The name of a container that browsers do not play, or nothing.
const char *ContainerBrowsersCannotPlay(const std::string &mediaType) {
  if (mediaType == "video/x-msvideo") return "AVI";
  if (mediaType == "video/x-flv") return "Flash video";
  if (mediaType == "video/x-ms-wmv") return "Windows Media";
  if (mediaType == "video/mpeg") return "MPEG-1 and MPEG-2";
  return nullptr;
}
} // namespace

std::string WatchPage(const TCatalogueVideo &video) {
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  AppendXmlEscaped(page, video.Title);
  page += "</title></head>\n<body style=\"font-family: sans-serif\"><h1>";
  AppendXmlEscaped(page, video.Title);
  page += "</h1>\n";
  if (!video.Artist.empty()) {
    page += "<h2>";
    AppendXmlEscaped(page, video.Artist);
    page += "</h2>\n";
  }
  const std::string type = MediaTypeFor(video.RelPath);
  if (!video.Unavailable.empty()) {
    page += "<p>This file cannot be read now: ";
    AppendXmlEscaped(page, video.Unavailable);
    page += ".</p>\n";
  } else if (const char *container = ContainerBrowsersCannotPlay(type)) {
    page += "<p>Browsers cannot play ";
    page += container;
    page += " files. Play it in Sonabox, or <a href=\"/v/";
    AppendXmlEscaped(page, video.Id);
    page += "\">download it</a>.</p>\n";
  } else {
    // Browsers start a video by themselves only when it is muted.
    page += "<video id=\"player\" src=\"/v/";
    AppendXmlEscaped(page, video.Id);
    page += "\" poster=\"/t/";
    AppendXmlEscaped(page, video.Id);
    page += ".jpg\" controls autoplay muted width=\"640\" height=\"480\"></video>\n"
            "<p><button id=\"unmute\" type=\"button\" onclick=\"var v = "
            "document.getElementById('player'); v.muted = false; v.play(); this.hidden = "
            "true;\">Unmute</button></p>\n";
  }
  page += "<p>";
  AppendXmlEscaped(page, video.Description);
  page += "</p>\n<p>" + SecondsToText(std::to_string(video.Seconds)) + ", " +
          std::to_string(video.Views) + " views";
  if (!video.Category.empty()) {
    page += ", ";
    AppendXmlEscaped(page, video.Category);
  }
  page += "</p>\n</body></html>\n";
  return page;
}

std::string NoSuchVideoPage() {
  return "<!DOCTYPE html><html><body><p>No such video.</p></body></html>\n";
}

} // namespace sonabox::server
