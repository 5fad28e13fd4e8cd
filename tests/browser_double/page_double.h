#pragma once

#include <windows.h>
#include <mshtml.h>
#include <mshtmhst.h>
#include <wrl/client.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvshake::testing {

// One element of a page's body, in document order. An element whose tag is "img" is also one of
// the document's images.
struct PageElement {
    std::wstring tag = L"div";
    std::wstring id;
    // The inline style's background image exactly as the browser reports it, e.g. url("a.png").
    std::wstring backgroundImage;
    // Images only: the address and the size as the browser reports them.
    std::wstring src;
    long width = 0;
    long height = 0;
};

// A page as a test or the demo describes it.
struct PageDescription {
    std::optional<std::wstring> title = std::wstring();  // nullopt: get_title fails
    std::wstring url = L"http://example.test/";          // document.URL, location's parts
    std::wstring windowName;                             // window.name
    std::wstring appVersion = L"5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)";
    std::vector<PageElement> elements;
    std::vector<PageDescription> frames;  // in order; each a document of its own
    bool refusesDocument = false;  // as a frame: its window refuses its document (another site)
    long bodyScrollTop = 0;
    long documentScrollTop = 0;
};

// What a test sees of one element of a live page (one the page had, or one the code added).
struct ElementState {
    std::wstring cssText;  // the inline style's text: the last one set whole, then what was set
    std::wstring display;  // on its own; display is its last declaration of display
    bool inBody = false;   // appended to the body (created and not appended: false)
    std::wstring text;     // the text of the text nodes appended to it
};

// A live page: an MSHTML document object model over a PageDescription, for use on one thread. The
// document answers IHTMLDocument2, IHTMLDocument3 and ICustomDoc; its parts (window, location,
// navigator, collections, elements, styles, frames) are COM objects of their own. Every
// reference the code under test takes on any of them is counted, so a test can check that none
// is left behind.
// The objects live as long as the page or the last reference to any of them, whichever is later;
// releasing an object more often than it was referenced ends the process with a message.
class PageTree;
class PageDouble {
  public:
    static std::shared_ptr<PageDouble> Create(const PageDescription& description);
    ~PageDouble();
    PageDouble(const PageDouble&) = delete;
    PageDouble& operator=(const PageDouble&) = delete;

    // A new reference to the document's IDispatch (as IWebBrowser2::get_Document hands it out).
    Microsoft::WRL::ComPtr<IDispatch> Document() const;

    // References held on the page's objects, frames included, beyond the page's own.
    long ReferencesHeld() const;
    // The handler that ICustomDoc::SetUIHandler last gave the top document; null before.
    Microsoft::WRL::ComPtr<IDocHostUIHandler> UIHandler() const;

    // The state of the first element of the top document with this id: the body's elements in
    // order, appended ones included, then elements created and never appended; nullopt when
    // there is none. CountById counts them all. (Frames are documents of their own.)
    std::optional<ElementState> ElementById(const std::wstring& id) const;
    int CountById(const std::wstring& id) const;

  private:
    explicit PageDouble(PageTree* tree) : tree_(tree) {}

    PageTree* const tree_;  // holds one reference of its own on the page's objects
};

// Reads a page description file (UTF-8), as the demo and the cross-process tests write them:
//   title TEXT | url URL
//   img WIDTH HEIGHT SRC
//   element TAG [id=ID] [class=CLASS] [bg=VALUE]     (VALUE runs to the end of the line; the
//                                                     class is not kept)
//   frame            the lines up to the matching "end" describe the frame's document
//   frame refused    a frame whose window refuses its document; needs no "end"
//   end
// Lines may be indented; blank lines and lines starting with # are skipped. nullopt, with a
// message, on a bad line or a frame without its end.
std::optional<PageDescription> ReadPageFile(const std::wstring& path, std::string* error = nullptr);

}  // namespace kvshake::testing
