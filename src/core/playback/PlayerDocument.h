#pragma once
// The player page and the HTML document it is loaded into.
//
// A video plays by loading a one-line HTML page that declares the player object
// for one video identifier into an HTML view's current document. The document
// keeps the bytes it was given and the address of the object they declare; the
// view (playback/HtmlView.h) starts that object when the document has loaded.
#include "core/web/ServiceHosts.h"

#include <QObject>

#include <string>

class QIODevice;

namespace sonabox {

// The player address of a video identifier, as the player page declares it:
// "http://" + webHost + "/v/" + id + "&autoplay=1".
std::string PlayerAddress(const std::string &id, const std::string &webHost = VideoWebHost());

// The player page for a video identifier, one line without a line break. The
// identifier is inserted unchanged; the player address
// "http://" + webHost + "/v/" + id + "&autoplay=1" occurs twice.
std::string PlayerPage(const std::string &id, const std::string &webHost = VideoWebHost());

// The address of the object a page declares: the "src" of its first <embed>,
// otherwise the "value" of its first <param name="movie">; empty when it declares none.
std::string DeclaredMovieAddress(const std::string &html);

// Whether the player may play an address: "http://" or "https://" (scheme in any
// letter case) followed by exactly webHost, then a path, query or nothing. Addresses
// holding spaces or control bytes are refused: they would reach the HTTP request line.
bool IsPlayableMovieAddress(const std::string &address, const std::string &webHost);

// The current document of an HTML view.
class THtmlDocument : public QObject {
  Q_OBJECT
public:
  // Reads the stream to its end and takes the bytes as the new content, in place
  // (no navigation), then announces Loaded().
  void LoadFromStream(QIODevice &stream);

  const std::string &Text() const { return text_; }
  const std::string &MovieAddress() const { return movieAddress_; }

signals:
  void Loaded();

private:
  std::string text_, movieAddress_;
};

// What the player page needs of an HTML view: its current document, none before
// the view's first navigation.
class THtmlDocumentView {
public:
  virtual THtmlDocument *Document() = 0;

protected:
  ~THtmlDocumentView() = default;
};

// Replaces the content of the view's current document with the text followed by
// CR LF, handed over as an in-memory byte stream. Does nothing when the view has
// no document.
void LoadDocumentText(THtmlDocumentView &view, const std::string &text);

// Builds the player page for the identifier and loads it into the view.
void ShowPlayer(const std::string &id, THtmlDocumentView &view);

} // namespace sonabox
