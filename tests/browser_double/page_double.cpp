#include "browser_double/page_double.h"

#include <mshtmhst.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <string_view>
#include <utility>

#include "browser_double/com_object.h"
#include "com/scoped_variant.h"
#include "support/log_file.h"
#include "com_stubs.h"

namespace kvshake::testing {

using Microsoft::WRL::ComPtr;

namespace {
class Document;
}  // namespace

// The objects of a page and its frames. They share one count of the references held on them:
// the PageDouble's own and every one a caller holds. The last release deletes them all.
class PageTree {
  public:
    explicit PageTree(const PageDescription& description);
    ~PageTree();

    void AddRef() { ++references_; }
    void Release() {
        if (--references_ == 0) delete this;
    }
    long Held() const { return references_ - 1; }

    Document& Top() { return *top_; }

  private:
    std::atomic<long> references_{1};
    std::unique_ptr<Document> top_;
};

namespace {

PageElement Tagged(std::wstring tag) {
    PageElement element;
    element.tag = std::move(tag);
    return element;
}

// The common part of the page's COM objects: each counts its own references, to catch a release
// too many, and adds them to the page's, which keep all of them alive.
template <typename... Stubs>
class PageObject : public ComObject<Stubs...> {
  public:
    ULONG STDMETHODCALLTYPE AddRef() override {
        tree_.AddRef();
        return ComObject<Stubs...>::AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = ComObject<Stubs...>::Release();
        tree_.Release();  // may delete this object
        return left;
    }

  protected:
    explicit PageObject(PageTree& tree) : tree_(tree) {}
    void LastReleased() override {}

    PageTree& tree_;
};

// The inline style, kept as its text: a property set on its own is declared at its end.
class Style final : public PageObject<HtmlStyleStubs> {
  public:
    Style(PageTree& tree, const std::wstring& backgroundImage) : PageObject(tree) {
        if (!backgroundImage.empty()) cssText_ = L"background-image:" + backgroundImage + L";";
    }

    // Not set, it reads as a null BSTR, as the browser gives it.
    HRESULT STDMETHODCALLTYPE get_backgroundImage(BSTR* p) override {
        const std::wstring value = Value(L"background-image");
        if (p == nullptr || !value.empty()) return Give(value, p);
        *p = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_display(BSTR v) override {
        cssText_ += L"display:" + FromBstr(v) + L";";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_cssText(BSTR v) override {
        cssText_ = FromBstr(v);
        return S_OK;
    }

    const std::wstring& CssText() const { return cssText_; }
    // The value of the property's last declaration; empty without one.
    std::wstring Value(std::wstring_view name) const {
        std::wstring value;
        std::wstring_view rest = cssText_;
        while (!rest.empty()) {
            const std::wstring_view declaration = rest.substr(0, rest.find(L';'));
            rest.remove_prefix(std::min(declaration.size() + 1, rest.size()));
            const size_t colon = std::min(declaration.find(L':'), declaration.size());
            if (declaration.substr(0, colon) == name) value = declaration.substr(colon + 1);
        }
        return value;
    }

  private:
    void* Find(REFIID riid) override {
        return FindIn<As<IHTMLStyle, IUnknown, IDispatch>>(this, riid);
    }

    std::wstring cssText_;
};

class Element final : public PageObject<HtmlElementStubs, HtmlElement2Stubs, HtmlDomNodeStubs,
                                        HtmlImgElementStubs> {
  public:
    Element(PageTree& tree, Document& document, const PageElement& description)
        : PageObject(tree),
          document_(document),
          description_(description),
          style_(tree, description.backgroundImage) {}

    // IHTMLElement
    HRESULT STDMETHODCALLTYPE get_id(BSTR* p) override { return Give(description_.id, p); }
    HRESULT STDMETHODCALLTYPE put_id(BSTR v) override {
        description_.id = FromBstr(v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_style(IHTMLStyle** p) override {
        return Give<IHTMLStyle>(&style_, p);
    }
    // IHTMLElement2
    HRESULT STDMETHODCALLTYPE get_scrollTop(LONG* p) override { return Give(scrollTop, p); }
    // IHTMLDOMNode: the body takes elements created by its document; any element takes text nodes.
    HRESULT STDMETHODCALLTYPE appendChild(IHTMLDOMNode* newChild, IHTMLDOMNode** node) override;
    // IHTMLImgElement
    HRESULT STDMETHODCALLTYPE get_src(BSTR* p) override { return Give(description_.src, p); }
    HRESULT STDMETHODCALLTYPE get_width(LONG* p) override { return Give(description_.width, p); }
    HRESULT STDMETHODCALLTYPE get_height(LONG* p) override { return Give(description_.height, p); }

    bool IsImage() const { return description_.tag == L"img"; }
    const std::wstring& Id() const { return description_.id; }
    const std::wstring& Tag() const { return description_.tag; }
    ElementState State() const {
        return ElementState{style_.CssText(), style_.Value(L"display"), inBody, text};
    }

    long scrollTop = 0;
    bool inBody = false;
    std::wstring text;  // a text node's own; an element's: the text nodes appended to it

  private:
    void* Find(REFIID riid) override {
        if (riid == __uuidof(IHTMLImgElement) && !IsImage()) return nullptr;
        return FindIn<As<IHTMLElement, IUnknown, IDispatch>, As<IHTMLElement2>, As<IHTMLDOMNode>,
                      As<IHTMLImgElement>>(this, riid);
    }

    Document& document_;
    PageElement description_;  // the id as set last
    Style style_;
};

// document.all and document.images: live views of the document's lists.
class ElementCollection final : public PageObject<HtmlElementCollectionStubs> {
  public:
    ElementCollection(PageTree& tree, const std::vector<Element*>& elements)
        : PageObject(tree), elements_(elements) {}

    HRESULT STDMETHODCALLTYPE get_length(LONG* p) override {
        return Give(static_cast<long>(elements_.size()), p);
    }
    // By index only, given in name (index empty), as the browser accepts it; past the end: null.
    HRESULT STDMETHODCALLTYPE item(VARIANT name, VARIANT /*index*/, IDispatch** pdisp) override {
        const std::optional<ULONG> index = IntegerOf(name);
        if (!index) return Refuse(E_NOTIMPL, pdisp);
        IHTMLElement* element = *index < elements_.size() ? elements_[*index] : nullptr;
        return Give<IDispatch>(element, pdisp);
    }

  private:
    void* Find(REFIID riid) override {
        return FindIn<As<IHTMLElementCollection, IUnknown, IDispatch>>(this, riid);
    }

    const std::vector<Element*>& elements_;
};

class Location final : public PageObject<HtmlLocationStubs> {
  public:
    // The protocol and the host name are those of the address.
    Location(PageTree& tree, const std::wstring& url)
        : PageObject(tree), href_(url), protocol_(url.substr(0, url.find(L':') + 1)) {
        const size_t slashes = url.find(L"//");
        if (slashes == std::wstring::npos) return;
        hostname_ = url.substr(slashes + 2, url.find_first_of(L"/:?#", slashes + 2) - slashes - 2);
    }

    HRESULT STDMETHODCALLTYPE get_href(BSTR* p) override { return Give(href_, p); }
    HRESULT STDMETHODCALLTYPE get_protocol(BSTR* p) override { return Give(protocol_, p); }
    HRESULT STDMETHODCALLTYPE get_hostname(BSTR* p) override { return Give(hostname_, p); }

  private:
    void* Find(REFIID riid) override {
        return FindIn<As<IHTMLLocation, IUnknown, IDispatch>>(this, riid);
    }

    const std::wstring href_;
    const std::wstring protocol_;
    std::wstring hostname_;
};

class Navigator final : public PageObject<OmNavigatorStubs> {
  public:
    Navigator(PageTree& tree, std::wstring appVersion)
        : PageObject(tree), appVersion_(std::move(appVersion)) {}

    HRESULT STDMETHODCALLTYPE get_appVersion(BSTR* p) override { return Give(appVersion_, p); }

  private:
    const std::wstring appVersion_;

    void* Find(REFIID riid) override {
        return FindIn<As<IOmNavigator, IUnknown, IDispatch>>(this, riid);
    }
};

// A document's window. As in the browser, it is also the collection of the document's frames.
class Window final : public PageObject<HtmlWindow2Stubs> {
  public:
    Window(PageTree& tree, Document& document) : PageObject(tree), document_(document) {}

    // IHTMLFramesCollection2
    HRESULT STDMETHODCALLTYPE item(VARIANT* pvarIndex, VARIANT* pvarResult) override;
    HRESULT STDMETHODCALLTYPE get_length(LONG* p) override;
    // IHTMLWindow2
    HRESULT STDMETHODCALLTYPE get_frames(IHTMLFramesCollection2** p) override {
        return Give<IHTMLFramesCollection2>(this, p);
    }
    HRESULT STDMETHODCALLTYPE get_document(IHTMLDocument2** p) override;
    HRESULT STDMETHODCALLTYPE get_location(IHTMLLocation** p) override;
    HRESULT STDMETHODCALLTYPE get_navigator(IOmNavigator** p) override;
    HRESULT STDMETHODCALLTYPE get_name(BSTR* p) override;

  private:
    void* Find(REFIID riid) override {
        return FindIn<As<IHTMLWindow2, IUnknown, IDispatch, IHTMLFramesCollection2>>(this, riid);
    }

    Document& document_;
};

// Also the document's ICustomDoc: it keeps the UI handler that a host gives it.
class Document final : public PageObject<HtmlDocument2Stubs, HtmlDocument3Stubs, ICustomDoc> {
  public:
    Document(PageTree& tree, const PageDescription& description)
        : PageObject(tree),
          description_(description),
          window_(tree, *this),
          location_(tree, description.url),
          navigator_(tree, description.appVersion),
          all_(tree, allElements_),
          images_(tree, imageElements_) {
        html_ = &elements_.emplace_back(tree, *this, Tagged(L"html"));
        body_ = &elements_.emplace_back(tree, *this, Tagged(L"body"));
        html_->scrollTop = description.documentScrollTop;
        body_->scrollTop = description.bodyScrollTop;
        allElements_.push_back(html_);
        allElements_.push_back(body_);
        for (const PageElement& element : description.elements) {
            AddToBody(elements_.emplace_back(tree, *this, element));
        }
        for (const PageDescription& frame : description.frames) {
            frames_.push_back(std::make_unique<Document>(tree, frame));
        }
    }

    // IHTMLDocument2
    HRESULT STDMETHODCALLTYPE get_title(BSTR* p) override {
        return description_.title ? Give(*description_.title, p) : Refuse(E_FAIL, p);
    }
    HRESULT STDMETHODCALLTYPE get_URL(BSTR* p) override { return Give(description_.url, p); }
    HRESULT STDMETHODCALLTYPE get_parentWindow(IHTMLWindow2** p) override {
        return Give<IHTMLWindow2>(&window_, p);
    }
    HRESULT STDMETHODCALLTYPE get_location(IHTMLLocation** p) override {
        return window_.get_location(p);
    }
    HRESULT STDMETHODCALLTYPE get_images(IHTMLElementCollection** p) override {
        return Give<IHTMLElementCollection>(&images_, p);
    }
    HRESULT STDMETHODCALLTYPE get_all(IHTMLElementCollection** p) override {
        return Give<IHTMLElementCollection>(&all_, p);
    }
    HRESULT STDMETHODCALLTYPE get_frames(IHTMLFramesCollection2** p) override {
        return Give<IHTMLFramesCollection2>(&window_, p);
    }
    HRESULT STDMETHODCALLTYPE get_body(IHTMLElement** p) override {
        return Give<IHTMLElement>(body_, p);
    }
    HRESULT STDMETHODCALLTYPE createElement(BSTR eTag, IHTMLElement** newElem) override {
        Element& element = elements_.emplace_back(tree_, *this, Tagged(FromBstr(eTag)));
        detached_.push_back(&element);
        return Give<IHTMLElement>(&element, newElem);
    }
    // ICustomDoc
    HRESULT STDMETHODCALLTYPE SetUIHandler(IDocHostUIHandler* handler) override {
        uiHandler = handler;
        return S_OK;
    }
    // IHTMLDocument3
    HRESULT STDMETHODCALLTYPE get_documentElement(IHTMLElement** p) override {
        return Give<IHTMLElement>(html_, p);
    }
    HRESULT STDMETHODCALLTYPE createTextNode(BSTR text, IHTMLDOMNode** newTextNode) override {
        Element& node = elements_.emplace_back(tree_, *this, Tagged(L"#text"));
        node.text = FromBstr(text);
        return Give<IHTMLDOMNode>(&node, newTextNode);
    }
    HRESULT STDMETHODCALLTYPE getElementById(BSTR v, IHTMLElement** pel) override {
        const std::vector<Element*> found = ById(FromBstr(v));
        return Give<IHTMLElement>(found.empty() || !found[0]->inBody ? nullptr : found[0], pel);
    }

    // The elements with this id: those in the document in order, then created ones never
    // appended.
    std::vector<Element*> ById(const std::wstring& id) const {
        std::vector<Element*> found;
        for (const auto* list : {&allElements_, &detached_}) {
            for (Element* element : *list) {
                if (element->Id() == id) found.push_back(element);
            }
        }
        return found;
    }
    // Moves an element this document created, and never appended, to the end of the body.
    Element* AppendToBody(IHTMLDOMNode* node) {
        const auto found = std::find_if(detached_.begin(), detached_.end(), [node](Element* e) {
            return static_cast<IHTMLDOMNode*>(e) == node;
        });
        if (found == detached_.end()) return nullptr;
        Element* element = *found;
        detached_.erase(found);
        AddToBody(*element);
        return element;
    }

    bool IsBody(const Element& element) const { return &element == body_; }
    // A text node this document created; null for any other node.
    const Element* TextNode(IHTMLDOMNode* node) const {
        for (const Element& element : elements_) {
            if (static_cast<const IHTMLDOMNode*>(&element) == node && element.Tag() == L"#text") {
                return &element;
            }
        }
        return nullptr;
    }
    ComPtr<IDocHostUIHandler> uiHandler;

  private:
    friend class Window;

    void* Find(REFIID riid) override {
        return FindIn<As<IHTMLDocument2, IUnknown, IDispatch, IHTMLDocument>, As<IHTMLDocument3>,
                      As<ICustomDoc>>(this, riid);
    }

    void AddToBody(Element& element) {
        element.inBody = true;
        allElements_.push_back(&element);
        if (element.IsImage()) imageElements_.push_back(&element);
    }

    const PageDescription description_;
    Window window_;
    Location location_;
    Navigator navigator_;
    // Every element, in a deque so that they stay where they are: html, body, the page's, then
    // the created ones.
    std::deque<Element> elements_;
    Element* html_ = nullptr;
    Element* body_ = nullptr;
    std::vector<Element*> allElements_;    // html, body, then the body's in order
    std::vector<Element*> imageElements_;  // the body's img elements in order
    std::vector<Element*> detached_;       // created and not appended
    ElementCollection all_;
    ElementCollection images_;
    std::vector<std::unique_ptr<Document>> frames_;
};

HRESULT Element::appendChild(IHTMLDOMNode* newChild, IHTMLDOMNode** node) {
    if (const Element* textNode = document_.TextNode(newChild)) {
        text += textNode->text;
        return Give<IHTMLDOMNode>(newChild, node);
    }
    if (!document_.IsBody(*this)) return Refuse(E_NOTIMPL, node);
    Element* appended = document_.AppendToBody(newChild);
    return appended != nullptr ? Give<IHTMLDOMNode>(appended, node) : Refuse(E_INVALIDARG, node);
}

HRESULT Window::item(VARIANT* pvarIndex, VARIANT* pvarResult) {
    if (pvarIndex == nullptr || pvarResult == nullptr) return E_POINTER;
    ::VariantInit(pvarResult);
    const std::optional<ULONG> index = IntegerOf(*pvarIndex);
    if (!index || *index >= document_.frames_.size()) return E_INVALIDARG;
    IHTMLWindow2* frame = &document_.frames_[*index]->window_;
    frame->AddRef();
    pvarResult->vt = VT_DISPATCH;
    pvarResult->pdispVal = frame;
    return S_OK;
}

HRESULT Window::get_length(LONG* p) { return Give(static_cast<long>(document_.frames_.size()), p); }

HRESULT Window::get_document(IHTMLDocument2** p) {
    // A frame of another site: the browser denies its document to the page's script and to us.
    if (document_.description_.refusesDocument) return Refuse(E_ACCESSDENIED, p);
    return Give<IHTMLDocument2>(&document_, p);
}

HRESULT Window::get_location(IHTMLLocation** p) {
    return Give<IHTMLLocation>(&document_.location_, p);
}

HRESULT Window::get_navigator(IOmNavigator** p) {
    return Give<IOmNavigator>(&document_.navigator_, p);
}

HRESULT Window::get_name(BSTR* p) { return Give(document_.description_.windowName, p); }

// Reads the whole file as UTF-8 (a byte order mark is skipped); nothing when it cannot.
std::optional<std::wstring> ReadUtf8File(const std::wstring& path) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    std::string bytes = ReadWholeFile(path);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (bytes.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0);
    if (length == 0) return std::nullopt;
    std::wstring text(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                          static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

// The next blank-separated word of a line; the line keeps what follows the blanks after it.
std::wstring NextWord(std::wstring_view& line) {
    const std::wstring word(line.substr(0, line.find_first_of(L" \t")));
    line.remove_prefix(word.size());
    line.remove_prefix(std::min(line.find_first_not_of(L" \t"), line.size()));
    return word;
}

std::optional<long> Number(const std::wstring& word) {
    wchar_t* end = nullptr;
    const long value = std::wcstol(word.c_str(), &end, 10);
    if (word.empty() || *end != L'\0') return std::nullopt;
    return value;
}

// One line of a page description into the innermost open document; false when it is not one.
bool ReadLine(std::wstring_view line, std::vector<PageDescription*>& open) {
    PageDescription& page = *open.back();
    const std::wstring keyword = NextWord(line);
    const std::wstring rest(line);
    if (keyword == L"title") {
        page.title = rest;
    } else if (keyword == L"url") {
        page.url = rest;
    } else if (keyword == L"img") {
        PageElement image;
        image.tag = L"img";
        const std::optional<long> width = Number(NextWord(line));
        const std::optional<long> height = Number(NextWord(line));
        if (!width || !height || line.empty()) return false;
        image.width = *width;
        image.height = *height;
        image.src = line;
        page.elements.push_back(std::move(image));
    } else if (keyword == L"element") {
        PageElement element;
        element.tag = NextWord(line);
        while (!line.empty()) {
            if (line.substr(0, 3) == L"bg=") {
                element.backgroundImage = line.substr(3);
                break;
            }
            const std::wstring word = NextWord(line);
            if (word.compare(0, 3, L"id=") == 0) {
                element.id = word.substr(3);
            } else if (word.compare(0, 6, L"class=") != 0) {
                return false;
            }
        }
        if (element.tag.empty()) return false;
        page.elements.push_back(std::move(element));
    } else if (keyword == L"frame" && rest.empty()) {
        open.push_back(&page.frames.emplace_back());
    } else if (keyword == L"frame" && rest == L"refused") {
        page.frames.emplace_back().refusesDocument = true;
    } else if (keyword == L"end" && rest.empty() && open.size() > 1) {
        open.pop_back();
    } else {
        return false;
    }
    return true;
}

}  // namespace

PageTree::PageTree(const PageDescription& description)
    : top_(std::make_unique<Document>(*this, description)) {}

PageTree::~PageTree() = default;

std::shared_ptr<PageDouble> PageDouble::Create(const PageDescription& description) {
    return std::shared_ptr<PageDouble>(new PageDouble(new PageTree(description)));
}

PageDouble::~PageDouble() { tree_->Release(); }

ComPtr<IDispatch> PageDouble::Document() const {
    return ComPtr<IDispatch>(static_cast<IHTMLDocument2*>(&tree_->Top()));
}

long PageDouble::ReferencesHeld() const { return tree_->Held(); }

ComPtr<IDocHostUIHandler> PageDouble::UIHandler() const { return tree_->Top().uiHandler; }

std::optional<ElementState> PageDouble::ElementById(const std::wstring& id) const {
    const std::vector<Element*> found = tree_->Top().ById(id);
    if (found.empty()) return std::nullopt;
    return found[0]->State();
}

int PageDouble::CountById(const std::wstring& id) const {
    return static_cast<int>(tree_->Top().ById(id).size());
}

std::optional<PageDescription> ReadPageFile(const std::wstring& path, std::string* error) {
    const auto fail = [error](std::string message) {
        if (error != nullptr) *error = std::move(message);
        return std::nullopt;
    };
    const std::optional<std::wstring> text = ReadUtf8File(path);
    if (!text) return fail("cannot read the file as UTF-8");
    PageDescription page;
    std::vector<PageDescription*> open = {&page};
    std::wstring_view rest = *text;
    for (int number = 1; !rest.empty(); ++number) {
        std::wstring_view line = rest.substr(0, rest.find(L'\n'));
        rest.remove_prefix(std::min(line.size() + 1, rest.size()));
        line.remove_prefix(std::min(line.find_first_not_of(L" \t"), line.size()));
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        if (line.empty() || line[0] == L'#') continue;
        if (!ReadLine(line, open)) {
            return fail("line " + std::to_string(number) + " is not understood");
        }
    }
    if (open.size() > 1) return fail("a frame has no end");
    return page;
}

}  // namespace kvshake::testing
