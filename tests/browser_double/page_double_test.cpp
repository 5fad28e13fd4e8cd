#include <gtest/gtest.h>
#include <windows.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "browser_double/browser_double.h"
#include "browser_double/page_double.h"
#include "com/scoped_variant.h"
#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

unique_bstr Bstr(const wchar_t* text) { return unique_bstr(::SysAllocString(text)); }

template <typename Object>
std::wstring TextOf(Object* object, HRESULT (STDMETHODCALLTYPE Object::*getter)(BSTR*)) {
    unique_bstr text;
    EXPECT_EQ(S_OK, (object->*getter)(text.put()));
    return text ? std::wstring(text.get(), ::SysStringLen(text.get())) : std::wstring();
}

// An element of a collection, asked for as the code asks: the index in name, index empty.
ComPtr<IHTMLElement> ItemAt(IHTMLElementCollection* collection, LONG index) {
    ComPtr<IDispatch> item;
    EXPECT_EQ(S_OK, collection->item(ScopedVariant::Int32(index).get(), ScopedVariant().get(),
                                     item.GetAddressOf()));
    ComPtr<IHTMLElement> element;
    if (item) item.As(&element);
    return element;
}

ComPtr<IHTMLWindow2> FrameAt(IHTMLFramesCollection2* frames, LONG index) {
    VARIANT at = ScopedVariant::Int32(index).get();
    ScopedVariant frame;
    ComPtr<IHTMLWindow2> window;
    if (SUCCEEDED(frames->item(&at, frame.put())) && frame.type() == VT_DISPATCH) {
        frame.get().pdispVal->QueryInterface(IID_PPV_ARGS(&window));
    }
    return window;
}

// ReadPageFile of a file holding the text.
std::optional<PageSpec> ReadText(const std::string& text, std::string* error) {
    wchar_t folder[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    ::GetTempFileNameW(folder, L"pg", 0, path);
    {
        unique_file file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    std::optional<PageSpec> page = ReadPageFile(path, error);
    ::DeleteFileW(path);
    return page;
}

TEST(ReadPageFileTest, FramesNestUntilTheirEndAndARefusedFrameHasNone) {
    std::string error;
    const std::optional<PageSpec> page = ReadText(
        "title Shop \xE2\x80\x93 cart\n"
        "img 120 80 pictures/a b.png\r\n"
        "element div id=banner bg=url(\"x y.png\")\n"
        "frame\n"
        "  url http://inner.test/\n"
        "  frame refused\n"
        "  frame\n"
        "    img 1 2 in.png\n"
        "  end\n"
        "end\n"
        "frame refused\n",
        &error);
    ASSERT_TRUE(page) << error;
    EXPECT_EQ(L"Shop \u2013 cart", page->title);
    ASSERT_EQ(2u, page->elements.size());
    EXPECT_EQ(L"pictures/a b.png", page->elements[0].src);
    EXPECT_EQ(L"url(\"x y.png\")", page->elements[1].backgroundImage);
    ASSERT_EQ(2u, page->frames.size());
    EXPECT_TRUE(page->frames[1].refusesDocument);
    const PageSpec& inner = page->frames[0];
    EXPECT_EQ(L"http://inner.test/", inner.url);
    ASSERT_EQ(2u, inner.frames.size());
    EXPECT_TRUE(inner.frames[0].refusesDocument);
    EXPECT_EQ(1u, inner.frames[1].elements.size());

    EXPECT_FALSE(ReadText("frame\nimg 1 2 a.png\n", &error));
    EXPECT_FALSE(ReadText("end\n", &error));
    EXPECT_FALSE(ReadText("img 1 a.png\n", &error)) << "a missing height";
}

TEST(PageDoubleTest, WalkingCollectionsAndFramesLeavesNoReferenceHeld) {
    PageElement banner;
    banner.backgroundImage = L"url(\"b.png\")";
    PageElement picture;
    picture.tag = L"img";
    picture.src = L"http://example.test/p.png";
    PageSpec inner;
    inner.elements = {picture};
    PageSpec refused;
    refused.refusesDocument = true;
    PageSpec spec;
    spec.elements = {banner, picture};
    spec.frames = {inner, refused};
    const auto page = PageDouble::Create(spec);
    const ComPtr<BrowserDouble> browser = BrowserDouble::Create();
    ASSERT_TRUE(browser);
    browser->ShowPage(page);
    {
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(S_OK, browser->get_Document(&dispatch));
        ComPtr<IHTMLDocument2> document;
        ASSERT_EQ(S_OK, dispatch.As(&document));
        ComPtr<IHTMLElementCollection> all;
        ASSERT_EQ(S_OK, document->get_all(&all));
        LONG length = 0;
        all->get_length(&length);
        std::vector<std::wstring> seen;
        for (LONG i = 0; i < length; ++i) {
            const ComPtr<IHTMLElement> element = ItemAt(all.Get(), i);
            ASSERT_TRUE(element);
            ComPtr<IHTMLStyle> style;
            element->get_style(&style);
            seen.push_back(TextOf(element.Get(), &IHTMLElement::get_tagName) + L" " +
                           TextOf(style.Get(), &IHTMLStyle::get_backgroundImage));
        }
        EXPECT_EQ((std::vector<std::wstring>{L"HTML ", L"BODY ", L"DIV url(\"b.png\")", L"IMG "}),
                  seen);
        EXPECT_FALSE(ItemAt(all.Get(), length));

        ComPtr<IHTMLFramesCollection2> frames;
        ASSERT_EQ(S_OK, document->get_frames(&frames));
        ComPtr<IHTMLDocument2> frameDocument;
        EXPECT_EQ(E_ACCESSDENIED, FrameAt(frames.Get(), 1)->get_document(&frameDocument));
        ASSERT_EQ(S_OK, FrameAt(frames.Get(), 0)->get_document(&frameDocument));
        ComPtr<IHTMLElementCollection> images;
        frameDocument->get_images(&images);
        ComPtr<IHTMLImgElement> image;
        ASSERT_EQ(S_OK, ItemAt(images.Get(), 0).As(&image));
        EXPECT_EQ(picture.src, TextOf(image.Get(), &IHTMLImgElement::get_src));
        EXPECT_GT(page->ReferencesHeld(), 0);
    }
    EXPECT_EQ(0, page->ReferencesHeld());
}

TEST(PageDoubleTest, CssTextSetsWhatReadsBackAndAnAppendedElementJoinsTheBody) {
    const auto page = PageDouble::Create(PageSpec());
    {
        ComPtr<IHTMLDocument2> document;
        ASSERT_EQ(S_OK, page->Document().As(&document));
        ComPtr<IHTMLElement> div;
        ASSERT_EQ(S_OK, document->createElement(Bstr(L"div").get(), &div));
        div->put_id(Bstr(L"shake").get());
        ComPtr<IHTMLStyle> style;
        div->get_style(&style);
        style->put_cssText(Bstr(L"display:none;background-image:url(\"res://KVShake/224\");"
                                L"position:fixed;top:30px;")
                               .get());
        EXPECT_EQ(L"url(\"res://KVShake/224\")",
                  TextOf(style.Get(), &IHTMLStyle::get_backgroundImage));
        EXPECT_EQ(L"none", TextOf(style.Get(), &IHTMLStyle::get_display));

        ComPtr<IHTMLDocument3> document3;
        ASSERT_EQ(S_OK, document.As(&document3));
        ComPtr<IHTMLElement> found;
        EXPECT_EQ(S_OK, document3->getElementById(Bstr(L"shake").get(), &found));
        EXPECT_FALSE(found) << "not in the document before it is appended";
        ComPtr<IHTMLElement> body;
        ASSERT_EQ(S_OK, document->get_body(&body));
        ComPtr<IHTMLDOMNode> bodyNode, divNode, appended;
        body.As(&bodyNode);
        div.As(&divNode);
        ASSERT_EQ(S_OK, bodyNode->appendChild(divNode.Get(), &appended));
        document3->getElementById(Bstr(L"shake").get(), &found);
        EXPECT_EQ(div.Get(), found.Get());
        style->put_display(Bstr(L"block").get());
    }
    const std::optional<ElementState> state = page->ElementById(L"shake");
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->inBody);
    EXPECT_EQ(L"block", state->display);
    EXPECT_EQ(L"url(\"res://KVShake/224\")", state->backgroundImage);
    EXPECT_EQ(0, page->ReferencesHeld());
}

}  // namespace
}  // namespace kvshake::testing
